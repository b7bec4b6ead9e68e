#include "provisioning/pass.h"

#include <gtest/gtest.h>

#include <ostream>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "provisioning/test_documents.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

using Lines = std::vector<std::string>;

const std::string kPath(kPhonebookPath);
const std::string kProcessing = "* processing pbk " + kPath;

// One pass of `templ` over `phonebook`; the console lines and the saved phonebook.
struct PassRun {
  Lines lines;
  std::string saved;
  bool errorLogged = false;
};

PassRun RunPass(std::string_view templ, std::string_view phonebook, bool create,
                GatewayOverride gateway = {}) {
  FakePlatform platform;
  Log log(platform);
  const TextDocument templDoc(platform, templ);
  TextDocument phonebookDoc(platform, phonebook, kPath);
  ProcessPhonebook(log, templDoc, phonebookDoc, create, gateway);
  return {platform.lines, Saved(phonebookDoc), log.ErrorLogged()};
}

Lines With(Lines lines) {
  lines.insert(lines.begin(), kProcessing);
  return lines;
}

// ---- Update stage ----

constexpr std::string_view kManaged =
    "[config]\r\nmansecs=vpn1\r\n"
    "[vpn1]\r\nid=PhoneNumber=vpn1.example.com\r\n"
    "set=IpPrioritizeRemote=1|ExcludedProtocols=8|Tag=a|Tag=b\r\n";

TEST(UpdateStage, EveryMatchingEntryGetsEveryAssignmentInOrder) {
  const PassRun run = RunPass(kManaged,
                              "[A]\r\nPhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=0\r\n"
                              "[B]\r\nPhoneNumber=VPN1.example.com\r\n"
                              "[C]\r\nPhoneNumber=vpn1.example.com \r\nTAG=x\r\n",
                              false);
  EXPECT_EQ(run.lines,
            With({"* on [A] setting IpPrioritizeRemote=1", "* on [A] setting ExcludedProtocols=8",
                  "* on [A] setting Tag=a", "* on [A] setting Tag=b",
                  "* on [C] setting IpPrioritizeRemote=1", "* on [C] setting ExcludedProtocols=8",
                  "* on [C] setting Tag=a", "* on [C] setting Tag=b"}));
  // B differs in letter case only and is not managed; C's value was trimmed on parsing.
  EXPECT_EQ(run.saved,
            "[A]\r\nPhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=1\r\nExcludedProtocols=8\r\n"
            "Tag=b\r\n\r\n"
            "[B]\r\nPhoneNumber=VPN1.example.com\r\n\r\n"
            "[C]\r\nPhoneNumber=vpn1.example.com\r\nTag=b\r\nIpPrioritizeRemote=1\r\n"
            "ExcludedProtocols=8\r\n\r\n");
  EXPECT_FALSE(run.errorLogged);
}

TEST(UpdateStage, TheLastLineOfTheIdKeyDecides) {
  const PassRun run = RunPass(kManaged,
                              "[old]\r\nPhoneNumber=vpn1.example.com\r\nphonenumber=other\r\n"
                              "[new]\r\nPhoneNumber=other\r\nPHONENUMBER=vpn1.example.com\r\n",
                              false);
  EXPECT_EQ(run.lines.size(), 5u);
  for (std::size_t i = 1; i < run.lines.size(); ++i) {
    EXPECT_EQ(run.lines[i].rfind("* on [new] setting ", 0), 0u) << run.lines[i];
  }
}

TEST(UpdateStage, AnEmptyIdValueManagesEntriesWithoutTheKey) {
  const PassRun run =
      RunPass("[config]\r\nmansecs=m\r\n[m]\r\nid=Comment=\r\nset=x=1\r\n",
              "[none]\r\nType=2\r\n[empty]\r\nComment=\r\n[set]\r\nComment=c\r\n", false);
  EXPECT_EQ(run.lines, With({"* on [none] setting x=1", "* on [empty] setting x=1"}));
}

TEST(UpdateStage, EachRuleSeesTheChangesOfTheRulesBefore) {
  const PassRun run = RunPass(
      "[config]\r\nmansecs=first|second\r\n"
      "[first]\r\nid=PhoneNumber=a\r\nset=Tag=x\r\n[second]\r\nid=Tag=x\r\nset=Seen=1\r\n",
      "[e]\r\nPhoneNumber=a\r\n", false);
  EXPECT_EQ(run.lines, With({"* on [e] setting Tag=x", "* on [e] setting Seen=1"}));
}

TEST(UpdateStage, DuplicateSectionsAreReadAndWrittenThroughTheLastOne) {
  const PassRun run = RunPass("[config]\r\nmansecs=m\r\n[m]\r\nid=PhoneNumber=a\r\nset=x=1\r\n",
                              "[e]\r\nPhoneNumber=a\r\n[e]\r\nPhoneNumber=a\r\n", false);
  EXPECT_EQ(run.lines, With({"* on [e] setting x=1", "* on [e] setting x=1"}));
  EXPECT_EQ(run.saved, "[e]\r\nPhoneNumber=a\r\n\r\n[e]\r\nPhoneNumber=a\r\nx=1\r\n\r\n");
}

TEST(UpdateStage, NothingToDoWithoutManagedSections) {
  for (const char* templ : {"", "[config]\r\nmansecs=\r\n", "[config]\r\ncresecs=E\r\n"}) {
    const PassRun run = RunPass(templ, "[A]\r\nPhoneNumber=\r\n", false);
    EXPECT_EQ(run.lines, With({})) << templ;
    EXPECT_EQ(run.saved, "[A]\r\nPhoneNumber=\r\n\r\n") << templ;
  }
}

TEST(UpdateStage, SkipsRulesAndAssignmentsMissingAPiece) {
  const PassRun run = RunPass(
      "[config]\r\nmansecs=absent||noequals|emptyid|good\r\n"
      "[noequals]\r\nid=PhoneNumber\r\nset=x=1\r\n[emptyid]\r\nset=x=2\r\n"
      "[good]\r\nid=PhoneNumber=a\r\nset=|NoEquals||y=1|\r\n",
      "[e]\r\nPhoneNumber=a\r\n[f]\r\nPhoneNumber=\r\n", false);
  EXPECT_EQ(run.lines, With({"* on [e] setting y=1"}));
  EXPECT_EQ(run.saved, "[e]\r\nPhoneNumber=a\r\ny=1\r\n\r\n[f]\r\nPhoneNumber=\r\n\r\n");
  EXPECT_FALSE(run.errorLogged);
}

struct GatewayCase {
  const char* name;
  const char* key;
  GatewayOverride gateway;
  const char* written;  // for the template's value 1
  friend void PrintTo(const GatewayCase& c, std::ostream* os) { *os << c.name; }
};

class UpdateGatewayTest : public testing::TestWithParam<GatewayCase> {};

TEST_P(UpdateGatewayTest, LogsAndWritesTheOverriddenValue) {
  const std::string key = GetParam().key;
  const PassRun run = RunPass(
      "[config]\r\nmansecs=m\r\n[m]\r\nid=PhoneNumber=a\r\nset=" + key + "=1|IpDnsFlags=0\r\n",
      "[e]\r\nPhoneNumber=a\r\n", false, GetParam().gateway);
  const std::string line = key + "=" + GetParam().written;
  EXPECT_EQ(run.lines, With({"* on [e] setting " + line, "* on [e] setting IpDnsFlags=0"}));
  EXPECT_EQ(run.saved, "[e]\r\nPhoneNumber=a\r\n" + line + "\r\nIpDnsFlags=0\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateGatewayTest,
    testing::Values(GatewayCase{"None", "IpPrioritizeRemote", {}, "1"},
                    GatewayCase{"Local", "IpPrioritizeRemote", {true, false}, "0"},
                    GatewayCase{"Remote", "IpPrioritizeRemote", {false, true}, "1"},
                    GatewayCase{"Both", "IpPrioritizeRemote", {true, true}, "1"},
                    GatewayCase{"UpperCaseKey", "IPPRIORITIZEREMOTE", {false, true}, "1"},
                    GatewayCase{"Ipv6KeyUntouched", "Ipv6PrioritizeRemote", {true, false}, "1"}),
    [](const testing::TestParamInfo<GatewayCase>& info) { return std::string(info.param.name); });

// ---- Creation stage ----

constexpr std::string_view kCreatable =
    "[config]\r\ncresecs=E\r\n"
    "[E]\r\nType=2\r\nGuid=0123456789abcdef01234567FFFFFFFF\r\nDevice=WAN Miniport (SSTP)\r\n"
    "flag\r\nDEVICE=vpn\r\nIpPrioritizeRemote=1\r\nRoutes=A\\r\\nRoutes=B\r\nEmpty=\r\n";

std::string CreatedE(std::string_view gatewayValue) {
  return "[E]\r\nType=2\r\nGuid=0123456789abcdef0123456700000000\r\n"
         "Device=WAN Miniport (SSTP)\r\nflag\r\nDEVICE=vpn\r\nIpPrioritizeRemote=" +
         std::string(gatewayValue) + "\r\nRoutes=A\r\nRoutes=B\r\nEmpty=\r\n\r\n";
}

class CreateGatewayTest : public testing::TestWithParam<GatewayCase> {};

TEST_P(CreateGatewayTest, CopiesEveryLineInOrder) {
  const PassRun run = RunPass(kCreatable, "", true, GetParam().gateway);
  EXPECT_EQ(run.lines, With({"* creating [E]"}));
  EXPECT_EQ(run.saved, CreatedE(GetParam().written));
}

INSTANTIATE_TEST_SUITE_P(Cases, CreateGatewayTest,
                         testing::Values(GatewayCase{"None", "", {}, "1"},
                                         GatewayCase{"Local", "", {true, false}, "0"},
                                         GatewayCase{"Remote", "", {false, true}, "1"},
                                         GatewayCase{"Both", "", {true, true}, "1"}),
                         [](const testing::TestParamInfo<GatewayCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(CreationStage, GatewayKeyMatchesInAnyLetterCase) {
  const PassRun run =
      RunPass("[config]\r\ncresecs=E\r\n[E]\r\nipPRIORITIZEremote=0\r\n", "", true, {false, true});
  EXPECT_EQ(run.saved, "[E]\r\nipPRIORITIZEremote=1\r\nGuid=00000001\r\n\r\n");
}

TEST(CreationStage, CreatesUnderABareHeaderInItsPlace) {
  const PassRun run = RunPass(kCreatable, "[other]\r\nx=1\r\n[e]\r\n[last]\r\ny=2\r\n", true);
  EXPECT_EQ(run.lines, With({"* creating [E]"}));
  const std::string created = CreatedE("1");
  EXPECT_EQ(run.saved, "[other]\r\nx=1\r\n\r\n[e]" + created.substr(3) + "[last]\r\ny=2\r\n\r\n");
}

TEST(CreationStage, LeavesAHeldEntryAlone) {
  for (const char* held : {"[E]\r\nType=9\r\n", "[e]\r\nplain line\r\n", "[E]\r\nGuid=\r\n"}) {
    const PassRun run = RunPass(kCreatable, std::string("[A]\r\nz=1\r\n") + held, true);
    EXPECT_EQ(run.lines, With({"* not creating [E]"})) << held;
    EXPECT_EQ(run.saved, std::string("[A]\r\nz=1\r\n\r\n") + held + "\r\n") << held;
  }
}

TEST(CreationStage, NothingWhenNotAsked) {
  const PassRun run = RunPass(kCreatable, "", false);
  EXPECT_EQ(run.lines, With({}));
  EXPECT_EQ(run.saved, "");
}

TEST(CreationStage, NothingToCreateWithoutCreatableNames) {
  for (const char* config : {"[config]\r\ncresecs=\r\n", "[config]\r\nmansecs=\r\n", ""}) {
    const PassRun run = RunPass(config + std::string("[E]\r\nGuid=00\r\n"), "", true);
    EXPECT_EQ(run.lines, With({})) << config;
    EXPECT_EQ(run.saved, "") << config;
  }
}

TEST(CreationStage, CreatesEachMissingEntryInListOrder) {
  const PassRun run = RunPass(
      "[config]\r\ncresecs=B|A|held\r\n[A]\r\nGuid=\r\nx=1\r\n[B]\r\ny=2\r\n[held]\r\nz=3\r\n",
      "[held]\r\nz=0\r\n", true);
  EXPECT_EQ(run.lines, With({"* creating [B]", "* creating [A]", "* not creating [held]"}));
  // An empty template Guid gives 00000001; an entry without a Guid line gets one at its end.
  EXPECT_EQ(run.saved,
            "[held]\r\nz=0\r\n\r\n[B]\r\ny=2\r\nGuid=00000001\r\n\r\n"
            "[A]\r\nGuid=00000001\r\nx=1\r\n\r\n");
}

TEST(CreationStage, ANameWithoutTemplateSectionGetsOnlyAGuid) {
  const PassRun run = RunPass("[config]\r\ncresecs=ghost\r\n", "", true);
  EXPECT_EQ(run.lines, With({"* creating [ghost]"}));
  EXPECT_EQ(run.saved, "[ghost]\r\nGuid=00000001\r\n\r\n");
}

TEST(CreationStage, TheGuidLineTakesTheCallsLetters) {
  const PassRun run = RunPass(
      "[config]\r\ncresecs=E\r\n[E]\r\nGUID=00000000000000000000000099002F38\r\n", "", true);
  EXPECT_EQ(run.saved, "[E]\r\nGuid=00000000000000000000000099002F39\r\n\r\n");
}

TEST(CreationStage, RunsAfterTheUpdateStage) {
  const PassRun run = RunPass(
      "[config]\r\nmansecs=m\r\ncresecs=E\r\n[m]\r\nid=PhoneNumber=a\r\nset=x=1\r\n"
      "[E]\r\nPhoneNumber=a\r\n",
      "", true);
  EXPECT_EQ(run.lines, With({"* creating [E]"}));
  EXPECT_EQ(run.saved, "[E]\r\nPhoneNumber=a\r\nGuid=00000001\r\n\r\n");
}

std::string ShippedTemplateBytes() {
  std::ifstream in(LW_SOURCE_DIR "/resources/template.ini", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(CreationStage, TheShippedEntryArrivesAsTheTemplateWritesIt) {
  const std::string templ = ShippedTemplateBytes();
  const std::string header = "[auto.vpn1.example.com]\r\n";
  const std::size_t start = templ.find(header);
  const std::size_t end = templ.find("\r\n\r\n", start);
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  std::string expected = templ.substr(start, end + 2 - start) + "\r\n";
  expected = ReplaceAll(expected, "Guid=5E3A7C1D2B9F4A68B1C0D4E799002F38\r\n",
                        "Guid=5E3A7C1D2B9F4A68B1C0D4E799002F39\r\n");
  expected = ReplaceAll(expected, "\\r\\n", "\r\n");

  const PassRun run = RunPass(templ, "", true);
  EXPECT_EQ(run.lines, With({"* creating [auto.vpn1.example.com]"}));
  EXPECT_EQ(run.saved, expected);

  // The lines that a copy by key name would lose or merge.
  FakePlatform platform;
  const TextDocument saved(platform, run.saved);
  TStringList lines;
  saved.GetSectionLines("auto.vpn1.example.com", lines);
  ASSERT_EQ(lines.Count(), 105);
  EXPECT_EQ(lines[8], "Guid=5E3A7C1D2B9F4A68B1C0D4E799002F39");
  EXPECT_EQ(lines[87], "Device=WAN Miniport (SSTP)");
  EXPECT_EQ(lines[88], "DEVICE=vpn");
  EXPECT_EQ(lines[102], "Routes=C0000200FFFFFF00");
  EXPECT_EQ(lines[103], "Routes=0000000000000000");
}

// ---- Errors ----

struct FailingRun {
  FailingPlatform platform;
  Log log{platform};
  TextDocument templ;
  TextDocument phonebook;

  FailingRun(std::string_view templText, std::string_view phonebookText)
      : templ(platform, templText), phonebook(platform, phonebookText, kPath) {}
};

constexpr std::string_view kBoth =
    "[config]\r\nmansecs=m\r\ncresecs=E|F\r\n[m]\r\nid=PhoneNumber=a\r\nset=x=1|y=2\r\n"
    "[E]\r\nk=1\r\n[F]\r\nk=2\r\n";

TEST(PassErrors, AnUpdateErrorEndsTheUpdateStageOnly) {
  FailingRun run(kBoth, "[p]\r\nPhoneNumber=a\r\n[q]\r\nPhoneNumber=a\r\n");
  run.platform.failingLine = "* on [";
  run.platform.lineFailsAt = 1;
  ProcessPhonebook(run.log, run.templ, run.phonebook, true, {});
  EXPECT_EQ(run.platform.lines, With({"* on [p] setting x=1", "* exception updating: console gone",
                                      "* creating [E]", "* creating [F]"}));
  EXPECT_TRUE(run.log.ErrorLogged());
  // The write before the error stays.
  EXPECT_EQ(Saved(run.phonebook),
            "[p]\r\nPhoneNumber=a\r\nx=1\r\n\r\n[q]\r\nPhoneNumber=a\r\n\r\n"
            "[E]\r\nk=1\r\nGuid=00000001\r\n\r\n[F]\r\nk=2\r\nGuid=00000001\r\n\r\n");
}

TEST(PassErrors, ACreationErrorEndsTheCreationStage) {
  FailingRun run(kBoth, "[p]\r\nPhoneNumber=a\r\n");
  run.platform.failingLine = "* creating [";
  run.platform.lineFailsAt = 1;
  ProcessPhonebook(run.log, run.templ, run.phonebook, true, {});
  EXPECT_EQ(run.platform.lines,
            With({"* on [p] setting x=1", "* on [p] setting y=2", "* creating [E]",
                  "* exception adding/updating: console gone"}));
  EXPECT_EQ(Saved(run.phonebook),
            "[p]\r\nPhoneNumber=a\r\nx=1\r\ny=2\r\n\r\n[E]\r\nk=1\r\nGuid=00000001\r\n\r\n");
}

TEST(PassErrors, EachStageCatchesItsOwn) {
  FailingRun run(kBoth, "[p]\r\nPhoneNumber=a\r\n");
  run.platform.foldingFails = true;
  ProcessPhonebook(run.log, run.templ, run.phonebook, true, {});
  EXPECT_EQ(run.platform.lines, With({"* exception updating: folding failed",
                                      "* exception adding/updating: folding failed"}));
}

TEST(PassErrors, ErrorsFromOutsideTheToolAreCaughtToo) {
  FailingRun run(kBoth, "[p]\r\nPhoneNumber=a\r\n");
  run.platform.foldingOverflows = true;
  ProcessPhonebook(run.log, run.templ, run.phonebook, false, {});
  EXPECT_EQ(run.platform.lines, With({"* exception updating: folding overflow"}));
  EXPECT_TRUE(run.log.ErrorLogged());
}

}  // namespace
}  // namespace lw
