#include "platform/command_line.h"

#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lw {
namespace {

struct CutCase {
  const char* what;
  std::string commandLine;
  std::vector<std::string> arguments;
};

class SplitCommandLineTest : public testing::TestWithParam<CutCase> {};

TEST_P(SplitCommandLineTest, Cuts) {
  EXPECT_EQ(SplitCommandLine(GetParam().commandLine), GetParam().arguments);
}

using V = std::vector<std::string>;

const CutCase kCutCases[] = {
    // Separators.
    {"empty line", "", V{}},
    {"program only", "vpnsetup.exe", V{}},
    {"blanks only", "   \t ", V{}},
    {"plain words", "vpnsetup.exe /r /u", V{"/r", "/u"}},
    {"runs of blanks and tabs", "  vpnsetup.exe \t /r\t\t/u  ", V{"/r", "/u"}},
    {"every control byte separates",
     "p\x01"
     "a\x1f"
     "b\x0d\x0a"
     "c\x20"
     "d",
     V{"a", "b", "c", "d"}},
    {"DEL and high bytes are text",
     "p \x7f"
     "a \xa0"
     "b\xff",
     V{"\x7f"
       "a",
       "\xa0"
       "b\xff"}},
    {"NUL ends the text", std::string("p a\0b c", 7), V{"a"}},

    // Quotes.
    {"quoted program path", "\"C:\\Program Files\\vpnsetup.exe\" /r", V{"/r"}},
    {"quotes dropped", "p \"/r\"", V{"/r"}},
    {"quoted blanks and controls kept",
     "p \"a b\tc\x01"
     "d\" e",
     V{"a b\tc\x01"
       "d",
       "e"}},
    {"quoted stretch mid-argument", "p a\"b c\"d e", V{"ab cd", "e"}},
    {"unclosed quote runs to the end", "p \"a b /r", V{"a b /r"}},
    {"quoted lone blank", "p \" \" x", V{" ", "x"}},
    {"quote at the end of an argument", "p a\" b", V{"a b"}},
    {"two quotes mid-argument vanish", "p a\"\"b", V{"ab"}},
    {"three quotes mid-argument open", "p a\"\"\"b c", V{"ab c"}},

    // Pairs of quotes before an argument, and the separators after each, are skipped.
    {"leading doubled quotes skipped", "p \"\"/r", V{"/r"}},
    {"leading doubled quotes then a quoted stretch", "p \"\"\"a b\" c", V{"a b", "c"}},
    {"three quotes then a quoted argument", "p \"\"\"/u\"", V{"/u"}},
    {"four quotes then text", "p \"\"\"\"x y", V{"x", "y"}},
    {"five quotes open an unclosed stretch", "p \"\"\"\"\"a b", V{"a b"}},
    {"skip happens after the separators", "p \t \"\"x", V{"x"}},
    {"doubled quotes before the first argument", "p \"\" /u", V{"/u"}},
    {"doubled quotes alone between arguments", "p /a \"\" /r", V{"/a", "/r"}},
    {"four quotes alone between arguments", "p /a \"\"\"\" /r", V{"/a", "/r"}},
    {"separated pairs all skipped", "p \"\" \"\"\t\"\"\x01/a /r", V{"/a", "/r"}},
    {"a pair before a quoted blank", "p \"\" \" \" x", V{" ", "x"}},
    {"pairs inside a word stay part of it", "p a\"\" b", V{"a", "b"}},

    // The list ends only at the end of the text.
    {"trailing doubled quotes end it", "p /a /r \"\"", V{"/a", "/r"}},
    {"trailing pair and blanks end it", "p /a \"\" \t ", V{"/a"}},
    {"four quotes alone give nothing", "p \"\"\"\"", V{}},
    {"pairs alone give nothing", "p \"\" \"\"", V{}},
    {"lone trailing quote ends it", "p /a \"", V{"/a"}},
    {"lone trailing quote after a pair ends it", "p /a \"\"\"", V{"/a"}},
    {"NUL right after a pair ends it", std::string("p \"\"\0/u", 7), V{}},
    {"NUL after a pair and a blank ends it", std::string("p /a \"\" \0/u", 11), V{"/a"}},

    // The program is the first word, an empty "" too, and never returned.
    {"empty program still skipped", "\"\" /a", V{"/a"}},
    {"empty program then a pair", "\"\" \"\" /a", V{"/a"}},
    {"program glued to a pair", "\"\"v.exe \"\"/a", V{"/a"}},
    {"program after blanks", " \t\"\" /a", V{"/a"}},
    {"program with a quoted stretch", "C:\\\"My Tools\"\\v.exe /a", V{"/a"}},
    {"unclosed quote swallows the line into the program", "\"C:\\a b\\v.exe /a", V{}},
    {"program ends at a control byte", "v.exe\x01/a", V{"/a"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SplitCommandLineTest, testing::ValuesIn(kCutCases),
                         [](const testing::TestParamInfo<CutCase>& info) {
                           std::string name;
                           for (const char* c = info.param.what; *c != '\0'; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace lw
