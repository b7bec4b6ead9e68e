#include "provisioning/probe.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "provisioning/test_documents.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

constexpr std::string_view kTemplate =
    "[config]\r\ncresecs=auto.vpn1|auto.vpn2\r\n"
    "[auto.vpn1]\r\nGuid=0\r\n[auto.vpn2]\r\nGuid=0\r\n";

struct ProbeCase {
  const char* name;
  const char* templ;
  const char* phonebook;
  bool expected;
  friend void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }
};

class ProbeTest : public testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeTest, AnswersAndLeavesThePhonebookAlone) {
  FakePlatform platform;
  Log log(platform);
  const TextDocument templ(platform, GetParam().templ);
  const TextDocument phonebook(platform, GetParam().phonebook, std::string(kPhonebookPath));
  const std::string before = Saved(phonebook);

  EXPECT_EQ(ProbeExistingEntries(log, templ, phonebook), GetParam().expected);
  EXPECT_EQ(platform.lines,
            std::vector<std::string>{"processing pbk " + std::string(kPhonebookPath)});
  EXPECT_FALSE(log.ErrorLogged());
  EXPECT_EQ(Saved(phonebook), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProbeTest,
    testing::Values(
        ProbeCase{"EmptyPhonebook", kTemplate.data(), "", false},
        ProbeCase{"OtherEntriesOnly", kTemplate.data(), "[work]\r\nType=2\r\n", false},
        ProbeCase{"FirstEntryHeld", kTemplate.data(), "[auto.vpn1]\r\nType=2\r\n", true},
        ProbeCase{"SecondEntryHeld", kTemplate.data(), "[x]\r\ny=1\r\n[auto.vpn2]\r\nType=2\r\n",
                  true},
        ProbeCase{"NamesFoldCase", kTemplate.data(), "[AUTO.VPN1]\r\nType=2\r\n", true},
        ProbeCase{"PlainLineCounts", kTemplate.data(), "[auto.vpn1]\r\nflag\r\n", true},
        ProbeCase{"BareHeaderIsAbsent", kTemplate.data(), "[auto.vpn1]\r\n[auto.vpn2]\r\n", false},
        ProbeCase{"LaterBareDuplicateHides", kTemplate.data(),
                  "[auto.vpn1]\r\nType=2\r\n[auto.vpn1]\r\n", false},
        ProbeCase{"NamesAreNotTrimmed", kTemplate.data(), "[auto.vpn1 x]\r\nType=2\r\n", false},
        ProbeCase{"EmptyCresecs", "[config]\r\ncresecs=\r\n", "[auto.vpn1]\r\nType=2\r\n", false},
        ProbeCase{"NoConfig", "[auto.vpn1]\r\nGuid=0\r\n", "[auto.vpn1]\r\nType=2\r\n", false},
        ProbeCase{"NameWithoutTemplateSection", "[config]\r\ncresecs=mine\r\n",
                  "[mine]\r\nType=2\r\n", true}),
    [](const testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

TEST(ProbeExistingEntries, LogsAnErrorAndAnswersFalse) {
  FakePlatform platform;
  FailingPlatform phonebookPlatform;
  Log log(platform);
  const TextDocument templ(platform, kTemplate);
  const TextDocument phonebook(phonebookPlatform, "[auto.vpn1]\r\nType=2\r\n", "pbk");
  phonebookPlatform.foldingFails = true;

  EXPECT_FALSE(ProbeExistingEntries(log, templ, phonebook));
  EXPECT_EQ(platform.lines, (std::vector<std::string>{"processing pbk pbk",
                                                      "* exception checking: folding failed"}));
  EXPECT_TRUE(log.ErrorLogged());
}

TEST(ProbeExistingEntries, PrintsTheFileNameAsGiven) {
  FakePlatform platform;
  Log log(platform);
  const TextDocument templ(platform, kTemplate);
  const TextDocument phonebook(platform, "", "rel\\Pbk\\rasphone.pbk");
  ProbeExistingEntries(log, templ, phonebook);
  EXPECT_EQ(platform.lines, std::vector<std::string>{"processing pbk rel\\Pbk\\rasphone.pbk"});
}

}  // namespace
}  // namespace lw
