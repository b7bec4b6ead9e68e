#include "provisioning/template_checker.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "provisioning/template.h"
#include "provisioning/test_documents.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

std::vector<std::string> Check(std::string_view text) {
  FakePlatform platform;
  const TextDocument templ(platform, text);
  std::vector<std::string> texts;
  for (const TemplateProblem& problem : CheckTemplate(platform, templ)) {
    texts.push_back(problem.Text());
  }
  return texts;
}

constexpr std::string_view kGuid = "Guid=5E3A7C1D2B9F4A68B1C0D4E799002F38\r\n";

struct AcceptedCase {
  const char* name;
  std::string text;
  friend void PrintTo(const AcceptedCase& c, std::ostream* os) { *os << c.name; }
};

class AcceptedTemplateTest : public testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedTemplateTest, HasNoProblem) {
  EXPECT_EQ(Check(GetParam().text), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AcceptedTemplateTest,
    testing::Values(
        AcceptedCase{"Empty", ""},
        AcceptedCase{"EmptyLists", "[config]\r\nmansecs=\r\ncresecs=\r\n"},
        AcceptedCase{"Full",
                     "[config]\r\nmansecs=m\r\ncresecs=E\r\n[m]\r\nid=PhoneNumber=a\r\n"
                     "set=x=1|x=|y=2\r\n[E]\r\n" +
                         std::string(kGuid)},
        AcceptedCase{"EmptyIdValue", "[config]\r\nmansecs=m\r\n[m]\r\nid=Comment=\r\n"},
        AcceptedCase{"NoSetList", "[config]\r\nmansecs=m\r\n[m]\r\nid=PhoneNumber=a\r\n"},
        AcceptedCase{"NamesFoldCase",
                     "[config]\r\nmansecs=M\r\ncresecs=auto.E\r\n[m]\r\n"
                     "ID=PhoneNumber=a\r\n[AUTO.e]\r\nguid=" +
                         std::string(kGuid.substr(5))},
        AcceptedCase{"LowerCaseGuid",
                     "[config]\r\ncresecs=E\r\n[E]\r\nGuid=5e3a7c1d2b9f4a68b1c0d4e799002f38\r\n"},
        AcceptedCase{"CreatableBeforeConfig",
                     "[E]\r\n" + std::string(kGuid) + "[config]\r\ncresecs=E\r\n"},
        AcceptedCase{"GuidNamedInsideAValue", "[config]\r\ncresecs=E\r\n[E]\r\n" +
                                                  std::string(kGuid) +
                                                  "Comment=Guid=1\\r\\nGuidance=2\r\n"},
        AcceptedCase{"UnlistedSectionsIgnored",
                     "[config]\r\n[x]\r\nid=broken\r\n[y]\r\nGuid=short\r\n"}),
    [](const testing::TestParamInfo<AcceptedCase>& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* name;
  std::string text;
  std::vector<std::string> problems;
  friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

class RefusedTemplateTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedTemplateTest, NamesSectionKeyAndProblem) {
  EXPECT_EQ(Check(GetParam().text), GetParam().problems);
}

const std::string kIdRule = "; it must be one key=value, such as PhoneNumber=vpn.example.com";
const std::string kGuidRule = "; it must be 32 hexadecimal digits";
const std::string kGuidTwice =
    "; the created entry would keep all but the last as they stand, with the template's own "
    "Guid: keep one";

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedTemplateTest,
    testing::Values(
        RefusedCase{"ManagedSectionMissing",
                    "[config]\r\nmansecs=vpn1|vpn3\r\n[vpn1]\r\nid=a=b\r\n",
                    {"[config] mansecs: lists \"vpn3\", but there is no such section"}},
        RefusedCase{"CreatableSectionMissing",
                    "[config]\r\ncresecs=auto.vpn1\r\n[auto.vpn2]\r\n" + std::string(kGuid),
                    {"[config] cresecs: lists \"auto.vpn1\", but there is no such section"}},
        RefusedCase{"DoubledBarInList",
                    "[config]\r\nmansecs=m||m\r\n[m]\r\nid=a=b\r\n",
                    {"[config] mansecs: lists an empty section name (doubled or trailing \"|\")"}},
        RefusedCase{"NamesAreNotTrimmed",
                    "[config]\r\nmansecs=m |n\r\n[m]\r\nid=a=b\r\n[n]\r\nid=a=b\r\n",
                    {"[config] mansecs: lists \"m \", but there is no such section"}},
        RefusedCase{"IdMissing",
                    "[config]\r\nmansecs=m\r\n[m]\r\nset=x=1\r\n",
                    {"[m] id: is missing or empty" + kIdRule}},
        RefusedCase{"IdWithoutEquals",
                    "[config]\r\nmansecs=m\r\n[m]\r\nid=PhoneNumber\r\n",
                    {"[m] id: \"PhoneNumber\" is not" + kIdRule}},
        RefusedCase{"IdWithoutKey",
                    "[config]\r\nmansecs=m\r\n[m]\r\nid==a\r\n",
                    {"[m] id: \"=a\" is not" + kIdRule}},
        RefusedCase{"IdWithTwoEquals",
                    "[config]\r\nmansecs=m\r\n[m]\r\nid=a=b=c\r\n",
                    {"[m] id: \"a=b=c\" is not" + kIdRule}},
        RefusedCase{"Assignments",
                    "[config]\r\nmansecs=m\r\n[m]\r\nid=a=b\r\nset=|x=1||y|z=1=2|=3|\r\n",
                    {"[m] set: assignment 1 is empty (doubled or trailing \"|\")",
                     "[m] set: assignment 3 is empty (doubled or trailing \"|\")",
                     "[m] set: assignment 4 \"y\" has no \"=\"",
                     "[m] set: assignment 5 \"z=1=2\" has more than one \"=\"; a value cannot "
                     "hold one",
                     "[m] set: assignment 6 \"=3\" has no key before \"=\"",
                     "[m] set: assignment 7 is empty (doubled or trailing \"|\")"}},
        RefusedCase{"GuidMissing",
                    "[config]\r\ncresecs=E\r\n[E]\r\nType=2\r\n",
                    {"[E] Guid: is missing or empty" + kGuidRule}},
        RefusedCase{"GuidShort",
                    "[config]\r\ncresecs=E\r\n[E]\r\nGuid=5E3A7C1D\r\n",
                    {"[E] Guid: \"5E3A7C1D\" is not" + kGuidRule}},
        RefusedCase{"GuidLong",
                    "[config]\r\ncresecs=E\r\n[E]\r\nGuid=5E3A7C1D2B9F4A68B1C0D4E799002F380\r\n",
                    {"[E] Guid: \"5E3A7C1D2B9F4A68B1C0D4E799002F380\" is not" + kGuidRule}},
        RefusedCase{
            "GuidNotHex",
            "[config]\r\ncresecs=E\r\n[E]\r\nGuid={5E3A7C1D-2B9F-4A68-B1C0-D4E799002F38}\r\n",
            {"[E] Guid: \"{5E3A7C1D-2B9F-4A68-B1C0-D4E799002F38}\" is not" + kGuidRule}},
        RefusedCase{"GuidTwice",
                    "[config]\r\ncresecs=E\r\n[E]\r\n" + std::string(kGuid) +
                        "Type=2\r\nguid=" + std::string(kGuid.substr(5)),
                    {"[E] Guid: appears on 2 lines" + kGuidTwice}},
        RefusedCase{"GuidAgainAfterALineBreakEscape",
                    "[config]\r\ncresecs=E\r\n[E]\r\n" + std::string(kGuid) +
                        "Routes=1\\r\\n Guid =2\\r\\nGUID=3\r\n",
                    {"[E] Guid: appears on 3 lines" + kGuidTwice}},
        RefusedCase{"BareCreatableSection",
                    "[config]\r\ncresecs=E\r\n[E]\r\n",
                    {"[E] Guid: is missing or empty" + kGuidRule}},
        RefusedCase{"EveryProblemInTemplateOrder",
                    "[config]\r\nmansecs=a|b\r\ncresecs=c|d\r\n[a]\r\nid=x\r\nset=y\r\n"
                    "[c]\r\nGuid=0\r\n",
                    {"[config] mansecs: lists \"b\", but there is no such section",
                     "[a] id: \"x\" is not" + kIdRule, "[a] set: assignment 1 \"y\" has no \"=\"",
                     "[config] cresecs: lists \"d\", but there is no such section",
                     "[c] Guid: \"0\" is not" + kGuidRule}}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

struct TextCase {
  const char* name;
  std::string text;
  std::vector<std::string> problems;
  friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
};

class TemplateTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(TemplateTextTest, ChecksTheBytesAsTheToolReadsThem) {
  FakePlatform platform;
  std::vector<std::string> texts;
  for (const TemplateProblem& problem : CheckTemplateText(platform, GetParam().text)) {
    texts.push_back(problem.Text());
  }
  EXPECT_EQ(texts, GetParam().problems);
}

const std::string kValid = "[config]\r\ncresecs=E\r\n[E]\r\n" + std::string(kGuid);
const std::string kNulRule =
    " (UTF-16 or not text); the tool reads a template only up to its first NUL";
const std::string kBomProblem =
    "starts with a UTF-8 byte-order mark, which the tool would read as part of the first "
    "line; save it as ANSI text (or UTF-8 without a byte-order mark)";

INSTANTIATE_TEST_SUITE_P(
    Cases, TemplateTextTest,
    testing::Values(
        TextCase{"Valid", kValid, {}},
        TextCase{"LoneLineFeeds", "[config]\ncresecs=E\n[E]\n" + std::string(kGuid), {}},
        TextCase{"ParsedProblemsReported",
                 "[config]\r\ncresecs=F\r\n",
                 {"[config] cresecs: lists \"F\", but there is no such section"}},
        TextCase{"NulAfterTheText",
                 kValid + std::string(1, '\0'),
                 {"holds a NUL byte at offset " + std::to_string(kValid.size()) + kNulRule}},
        TextCase{"Utf16", std::string("[\0c\0", 4), {"holds a NUL byte at offset 1" + kNulRule}},
        TextCase{"ByteOrderMark", "\xEF\xBB\xBF" + kValid, {kBomProblem}},
        TextCase{"ByteOrderMarkBeforeAComment", "\xEF\xBB\xBF; note\r\n" + kValid, {kBomProblem}},
        TextCase{"MarkBytesLaterAreText", kValid + "Comment=\xEF\xBB\xBF\r\n", {}}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

// The reason for refusing a byte-order mark: the tool's own reading of the resource keeps
// it, so the first header is no header and [config] is lost.
TEST(TemplateTextTest, TheToolLosesTheFirstSectionAfterAByteOrderMark) {
  FakePlatform platform;
  platform.AddResource("IniData", kRcDataType, "\xEF\xBB\xBF" + kValid);
  TMemIniFile templ(platform, "");
  LoadTemplate(platform, templ);
  EXPECT_EQ(templ.GetValue("config", "cresecs", "none"), "none");
  EXPECT_EQ(templ.GetValue("E", "Guid", ""), kGuid.substr(5, 32));
}

}  // namespace
}  // namespace lw
