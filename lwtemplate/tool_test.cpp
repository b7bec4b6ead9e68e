#include "lwtemplate/tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lwtemplate/entry_template.h"
#include "lwtemplate/stamp.h"
#include "lwtemplate/test_image.h"
#include "tests/fake_platform.h"
#include "tests/temp_dir.h"

namespace lw {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

constexpr std::string_view kValidTemplate =
    "[config]\r\ncresecs=E\r\n[E]\r\nGuid=0123456789ABCDEF0123456789ABCDEF\r\n";
constexpr std::string_view kUsage = "usage: lwtemplate check TEMPLATE\n";

// Input files on disk (the tool reads them with the C++ library); the console and the
// written files in a fake platform.
class ToolTest : public testing::Test {
 protected:
  int Run(std::vector<std::string> args) { return RunTemplateTool(platform_, args); }

  std::string File(const std::string& name, const std::string& bytes) {
    dir_.Write(name, bytes);
    return dir_.Native(name).string();
  }
  // A phonebook, read through the platform as a run reads it.
  std::string Phonebook(const std::string& name, const std::string& bytes) {
    const std::string path = "C:\\pbk\\" + name;
    platform_.AddFile(path, bytes);
    return path;
  }

  FakePlatform platform_;
  TempDir dir_;
};

TEST_F(ToolTest, UsageErrorsAreRefusals) {
  const struct {
    std::vector<std::string> args;
    const char* problem;
  } cases[] = {
      {{}, "lwtemplate: no command given\n"},
      {{"frob"}, "lwtemplate: unknown command \"frob\"\n"},
      {{"check"}, "lwtemplate: check takes one file: TEMPLATE\n"},
      {{"check", "a", "b"}, "lwtemplate: check takes one file: TEMPLATE\n"},
      {{"stamp", "a", "b"}, "lwtemplate: stamp takes three files: TEMPLATE IN.exe OUT.exe\n"},
      {{"from-phonebook", "a"}, "lwtemplate: from-phonebook takes PHONEBOOK and ENTRY\n"},
      {{"from-phonebook", "a", "b", "--manage"}, "lwtemplate: --manage needs a list of keys\n"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    EXPECT_EQ(RunTemplateTool(platform, c.args), kToolRefused) << c.problem;
    EXPECT_EQ(platform.errorOutput.substr(0, platform.errorOutput.find("usage:")), c.problem);
    EXPECT_THAT(platform.errorOutput, HasSubstr(kUsage));
    EXPECT_THAT(platform.lines, IsEmpty());
  }
}

TEST_F(ToolTest, HelpNamesTheCommandsAndTheDefaultKeys) {
  EXPECT_EQ(Run({"--help"}), kToolSuccess);
  EXPECT_EQ(platform_.lines.front(), "usage: lwtemplate check TEMPLATE");
  EXPECT_THAT(platform_.lines,
              testing::Contains("    UseRasCredentials,SwCompression,PreviewDomain,AutoLogon,"
                                "ExcludedProtocols,IpDnsSuffix,IpPrioritizeRemote,IpDnsFlags)."));
  EXPECT_THAT(platform_.lines, testing::Contains(HasSubstr("Sign OUT.exe after stamping")));
  EXPECT_EQ(platform_.errorOutput, "");
}

TEST_F(ToolTest, CheckSaysInOneLineWhatAUsableTemplateHolds) {
  const struct {
    std::string text;
    const char* summary;
  } cases[] = {
      {std::string(kValidTemplate), "0 rules, 1 creatable entry, 65 bytes"},
      {"[config]\nmansecs=a|b\ncresecs=\n[a]\nid=k=v\n[b]\nid=k=w\n",
       "2 rules, 0 creatable entries, 52 bytes"},
      {"[config]\nmansecs=a\n[a]\nid=k=v\n", "1 rule, 0 creatable entries, 30 bytes"},
  };
  for (const auto& c : cases) {
    platform_.lines.clear();
    const std::string path = File("t.ini", c.text);
    EXPECT_EQ(Run({"check", path}), kToolSuccess);
    EXPECT_EQ(platform_.errorOutput, "");
    EXPECT_THAT(platform_.lines, ElementsAre(path + ": template good: " + c.summary));
  }
}

TEST_F(ToolTest, CheckNamesTheFileSectionKeyAndProblem) {
  const std::string path = File("t.ini", "[config]\r\ncresecs=E|F\r\n[E]\r\nGuid=1\r\n");
  EXPECT_EQ(Run({"check", path}), kToolRefused);
  EXPECT_EQ(platform_.errorOutput,
            path + ": [config] cresecs: lists \"F\", but there is no such section\n" + path +
                ": [E] Guid: \"1\" is not; it must be 32 hexadecimal digits\n" + path +
                ": template refused (2 problems)\n");
}

TEST_F(ToolTest, CheckRefusesFilesItCannotRead) {
  const std::string missing = dir_.Native("missing.ini").string();
  EXPECT_EQ(Run({"check", missing}), kToolRefused);
  EXPECT_EQ(platform_.errorOutput, missing + ": no such file\n");
  platform_.errorOutput.clear();
  EXPECT_EQ(Run({"check", dir_.Native().string()}), kToolRefused);
  EXPECT_EQ(platform_.errorOutput, dir_.Native().string() + ": is not a file\n");
  platform_.errorOutput.clear();
  const std::string bom = File("bom.ini", "\xEF\xBB\xBF" + std::string(kValidTemplate));
  EXPECT_EQ(Run({"check", bom}), kToolRefused);
  EXPECT_THAT(platform_.errorOutput, HasSubstr(bom + ": starts with a UTF-8 byte-order mark"));
  EXPECT_THAT(platform_.errorOutput, HasSubstr(bom + ": template refused (1 problem)\n"));
}

class StampCommandTest : public ToolTest {
 protected:
  void SetUp() override {
    TestImageShape shape;
    shape.capacity = 128;
    exe_ = BuildTestImage(shape).bytes;
    in_ = File("vpnsetup.exe", exe_);
    platform_.dirs.insert("C:\\out");
    // The input on disk, and another name of it (a short name, say).
    platform_.identities[in_] = {7, 1};
    platform_.identities[kShortName] = {7, 1};
  }
  void ExpectNothingWritten() {
    EXPECT_EQ(platform_.files.count(out_), 0u);
    EXPECT_THAT(platform_.FilesContaining("~lw"), IsEmpty());
    EXPECT_EQ(dir_.Read("vpnsetup.exe"), exe_);
    EXPECT_THAT(platform_.lines, IsEmpty());
  }

  std::string exe_;
  std::string in_;
  const std::string out_ = "C:\\out\\vpnsetup-corp.exe";
  static constexpr const char* kShortName = "C:\\out\\VPNSET~1.EXE";
};

TEST_F(StampCommandTest, WritesTheStampedCopyAndLeavesTheInputAlone) {
  const std::string templ = File("corp.ini", std::string(kValidTemplate));
  EXPECT_EQ(Run({"stamp", templ, in_, out_}), kToolSuccess);
  EXPECT_EQ(platform_.files.at(out_), StampTemplate(exe_, kValidTemplate));
  EXPECT_EQ(dir_.Read("vpnsetup.exe"), exe_);
  EXPECT_EQ(platform_.errorOutput, "");
  EXPECT_THAT(platform_.lines,
              ElementsAre(out_ + ": 64-bit vpnsetup.exe carrying " + templ + " (" +
                          std::to_string(kValidTemplate.size()) + " of 128 bytes)"));
}

TEST_F(StampCommandTest, RefusesAndWritesNothing) {
  const std::string valid = File("corp.ini", std::string(kValidTemplate));
  const std::string refused = File("bad.ini", "[config]\r\ncresecs=X\r\n");
  const std::string large = File("large.ini", std::string(kValidTemplate) + std::string(128, ';'));
  const std::string notExe = File("notes.txt", "MZ, but nothing more");
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string report;
  } cases[] = {
      {"RefusedTemplate",
       {"stamp", refused, in_, out_},
       refused + ": [config] cresecs: lists \"X\", but there is no such section\n" + refused +
           ": template refused (1 problem)\n"},
      {"TemplateTooLarge",
       {"stamp", large, in_, out_},
       in_ + ": has room for a template of 128 bytes, not " +
           std::to_string(kValidTemplate.size() + 128) +
           "; shorten the template (comments can go) or build with a larger "
           "LINKWRIGHT_TEMPLATE_CAPACITY\n"},
      {"NotAnExecutable",
       {"stamp", valid, notExe, out_},
       notExe + ": no MZ header: not a Windows executable\n"},
      {"MissingInput", {"stamp", valid, in_ + ".gone", out_}, in_ + ".gone: no such file\n"},
      {"OutputIsTheInput",
       {"stamp", valid, in_, in_},
       in_ + ": is IN.exe itself, which stamping never changes: name a new file\n"},
      {"OutputIsTheInputSpelledOtherwise",
       {"stamp", valid, in_, kShortName},
       std::string(kShortName) +
           ": is IN.exe itself, which stamping never changes: name a new file\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.errorOutput.clear();
    EXPECT_EQ(Run(c.args), kToolRefused);
    EXPECT_EQ(platform_.errorOutput, c.report);
    ExpectNothingWritten();
  }
}

TEST_F(StampCommandTest, AFailedWriteLeavesNothingBehind) {
  const std::string valid = File("corp.ini", std::string(kValidTemplate));
  platform_.diskSpace = 10;
  EXPECT_EQ(Run({"stamp", valid, in_, out_}), kToolRefused);
  EXPECT_THAT(platform_.errorOutput, HasSubstr(out_ + ": "));
  ExpectNothingWritten();
}

class FromPhonebookCommandTest : public ToolTest {
 protected:
  const std::string entry_ =
      "[Office]\r\nGuid=0123456789ABCDEF0123456789ABCDEF\r\nType=2\r\nPhoneNumber=vpn.example.org"
      "\r\nIpDnsFlags=1\r\n";
};

TEST_F(FromPhonebookCommandTest, PrintsTheTemplateLineByLine) {
  const std::string path = Phonebook("rasphone.pbk", "\xEF\xBB\xBF" + entry_);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"from-phonebook", path, "Office", "--manage", "Type,IpDnsFlags"},
        std::vector<std::string>{"from-phonebook", "--manage=Type,IpDnsFlags", path, "Office"}}) {
    platform_.lines.clear();
    EXPECT_EQ(Run(args), kToolSuccess);
    EXPECT_EQ(platform_.errorOutput, "");
    FakePlatform platform;
    TMemIniFile phonebook(platform, "");
    phonebook.LoadText(entry_);
    const EntryTemplate made =
        TemplateFromEntry(platform, phonebook, "Office", {"Type", "IpDnsFlags"});
    std::string printed;
    for (const std::string& line : platform_.lines) printed += line + "\r\n";
    EXPECT_EQ(printed, made.text);
    EXPECT_THAT(platform_.lines, testing::Contains("set=Type=2|IpDnsFlags=1"));
  }
}

TEST_F(FromPhonebookCommandTest, AnEmptyListManagesNothingAndTheDefaultNeedsItsKeys) {
  const std::string path = Phonebook("rasphone.pbk", entry_);
  EXPECT_EQ(Run({"from-phonebook", path, "Office", "--manage="}), kToolSuccess);
  EXPECT_THAT(platform_.lines, testing::Contains("set="));
  platform_.lines.clear();
  EXPECT_EQ(Run({"from-phonebook", path, "Office"}), kToolRefused);
  EXPECT_THAT(platform_.lines, IsEmpty());
  EXPECT_THAT(platform_.errorOutput,
              HasSubstr(path + ": [Office] UseRasCredentials: is not in the entry, so the rule "
                               "cannot take its value from it (--manage)\n"));
  EXPECT_THAT(platform_.errorOutput, HasSubstr(path + ": no template made (7 problems)\n"));
}

// The refusals a run gives, from the run's own reading.
TEST_F(FromPhonebookCommandTest, RefusesPhonebooksItCannotRead) {
  const std::string utf16 = Phonebook("utf16.pbk", std::string("\xFF\xFE[\0O\0]\0", 8));
  const std::string nul = Phonebook("nul.pbk", entry_ + std::string(1, '\0'));
  platform_.dirs.insert("C:\\pbk\\folder.pbk");
  platform_.AddFile("C:\\pbk\\denied.pbk", entry_);
  platform_.openErrors["C:\\pbk\\denied.pbk"] = kErrorAccessDenied;
  const struct {
    std::string path;
    std::string report;
  } cases[] = {
      {utf16,
       "Cannot open file \"" + utf16 + "\". The file holds a NUL byte (UTF-16 or damaged text)"},
      {nul, "Cannot open file \"" + nul + "\". The file holds a NUL byte (UTF-16 or damaged text)"},
      {"C:\\pbk\\denied.pbk", "Cannot open file \"C:\\pbk\\denied.pbk\". System error 5"},
      {"C:\\pbk\\none.pbk", "The file does not exist"},
      {"C:\\pbk\\folder.pbk", "The file does not exist"},
  };
  for (const auto& c : cases) {
    platform_.errorOutput.clear();
    EXPECT_EQ(Run({"from-phonebook", c.path, "O"}), kToolRefused);
    EXPECT_EQ(platform_.errorOutput, c.path + ": " + c.report + "\n");
    EXPECT_THAT(platform_.lines, IsEmpty());
  }
}

}  // namespace
}  // namespace lw
