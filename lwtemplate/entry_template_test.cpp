#include "lwtemplate/entry_template.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "lwtemplate/file_bytes.h"
#include "provisioning/pass.h"
#include "provisioning/template.h"
#include "provisioning/test_documents.h"
#include "support/log.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

constexpr std::string_view kGuid = "0123456789ABCDEF0123456789ABCDEF";
const std::vector<std::string> kNoKeys;

EntryTemplate Make(std::string_view phonebook, std::string_view entry,
                   const std::vector<std::string>& keys = kNoKeys) {
  FakePlatform platform;
  const TextDocument document(platform, phonebook);
  return TemplateFromEntry(platform, document, entry, keys);
}

std::vector<std::string> Problems(const EntryTemplate& made) {
  std::vector<std::string> texts;
  for (const TemplateProblem& problem : made.problems) texts.push_back(problem.Text());
  return texts;
}

// The Guid a created entry gets, worked out here on its own: the last eight hex digits
// plus one, upper case.
std::string NextGuid(std::string_view guid) {
  const unsigned long tail = std::stoul(std::string(guid.substr(24, 8)), nullptr, 16);
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08lX", (tail + 1) & 0xFFFFFFFFul);
  return std::string(guid.substr(0, 24)) + digits;
}

// What the tool writes when it creates `entry` of `phonebook` on an empty phonebook:
// the entry's lines as they stand, the Guid line holding the next Guid.
std::string Expected(std::string_view phonebook, const std::string& entry) {
  FakePlatform platform;
  const TextDocument document(platform, phonebook);
  TStringList lines;
  document.GetSectionLines(entry, lines);
  std::string text = "[" + entry + "]\r\n";
  for (const std::string_view line : lines) {
    if (line.substr(0, 5) == "Guid=") {
      text += "Guid=" + NextGuid(line.substr(5)) + "\r\n";
    } else {
      text += std::string(line) + "\r\n";
    }
  }
  return text + "\r\n";
}

// The tool's pass on an empty phonebook with `templ`, then again on the result; both
// phonebooks' bytes.
std::vector<std::string> Runs(const std::string& templ) {
  FakePlatform platform;
  const TextDocument parsed(platform, templ);
  Log log(platform, true);
  TMemIniFile phonebook(platform, "");
  ProcessPhonebook(log, parsed, phonebook, true, GatewayOverride{});
  const std::string first = Saved(phonebook);
  TextDocument again(platform, first);
  ProcessPhonebook(log, parsed, again, true, GatewayOverride{});
  EXPECT_FALSE(log.ErrorLogged());
  return {first, Saved(again)};
}

void ExpectReproduced(std::string_view phonebook, std::string_view entry, const std::string& name,
                      const std::vector<std::string>& keys) {
  const EntryTemplate made = Make(phonebook, entry, keys);
  ASSERT_EQ(Problems(made), std::vector<std::string>{});
  FakePlatform platform;
  EXPECT_TRUE(CheckTemplateText(platform, made.text).empty());
  const std::string expected = Expected(phonebook, name);
  EXPECT_EQ(Runs(made.text), (std::vector<std::string>{expected, expected}));
}

TEST(EntryTemplateTest, WritesTheConfigShapeAndJoinsRepeatedKeys) {
  const std::string phonebook = std::string("[Office VPN]\r\nType=2\r\nGuid=") +
                                std::string(kGuid) +
                                "\r\nDevice=WAN Miniport (SSTP)\r\n\r\nDEVICE=vpn\r\n"
                                "PhoneNumber=vpn.example.org\r\nRoutes=A\r\nRoutes=B\r\n";
  const EntryTemplate made = Make(phonebook, "Office VPN", {"type", "Device"});
  EXPECT_EQ(Problems(made), std::vector<std::string>{});
  EXPECT_EQ(made.text,
            "; Made by lwtemplate from-phonebook from the entry [Office VPN].\r\n"
            "; The created entry gets the Guid below with its last eight digits plus one.\r\n"
            "[config]\r\nmansecs=managed\r\ncresecs=Office VPN\r\n\r\n"
            "[managed]\r\nid=PhoneNumber=vpn.example.org\r\nset=Type=2|DEVICE=vpn\r\n\r\n"
            "[Office VPN]\r\nType=2\r\nGuid=0123456789ABCDEF0123456789ABCDEF\r\n"
            "Device=WAN Miniport (SSTP)\\r\\nDEVICE=vpn\r\nPhoneNumber=vpn.example.org\r\n"
            "Routes=A\\r\\nRoutes=B\r\n");
  ExpectReproduced(phonebook, "Office VPN", "Office VPN", {"type", "Device"});
}

TEST(EntryTemplateTest, DefaultKeysAreTheShippedTemplatesFirstRule) {
  FakePlatform platform;
  const TextDocument shipped(platform,
                             ReadFileBytes(LW_SOURCE_DIR "/resources/template.ini", 1 << 20));
  const std::string rule = TemplateList(shipped, "config", "mansecs").at(0);
  std::vector<std::string> keys;
  for (const std::string& assignment : TemplateList(shipped, rule, "set")) {
    keys.push_back(SplitPair(assignment).at(0));
  }
  EXPECT_EQ(DefaultManagedKeys(), keys);
}

// Every entry Windows wrote in the sample phonebook comes back from its template.
TEST(EntryTemplateTest, ReproducesEveryEntryOfTheSamplePhonebook) {
  const std::string phonebook =
      ReadFileBytes(LW_SOURCE_DIR "/tests/data/six-vpn-entries.pbk", 1 << 20);
  FakePlatform platform;
  const TextDocument document(platform, phonebook);
  TStringList names;
  document.GetSectionNames(names);
  ASSERT_EQ(names.Count(), 6);
  for (const std::string_view name : names) {
    SCOPED_TRACE(name);
    ExpectReproduced(phonebook, name, std::string(name), DefaultManagedKeys());
  }
}

TEST(EntryTemplateTest, RefusesTheSampleBroadbandEntryForWantOfAPhoneNumber) {
  const std::string phonebook =
      ReadFileBytes(LW_SOURCE_DIR "/tests/data/broadband-utf8-name.pbk", 1 << 20);
  EXPECT_EQ(
      Problems(Make(phonebook, "\xE5\xAE\xBD\xE5\xB8\xA6\xE8\xBF\x9E\xE6\x8E\xA5", kNoKeys)),
      std::vector<std::string>{"[\xE5\xAE\xBD\xE5\xB8\xA6\xE8\xBF\x9E\xE6\x8E\xA5] PhoneNumber: "
                               "is missing; the template's rule finds entries by it"});
}

// An entry made of `name` and the lines; Guid and PhoneNumber come first.
std::string Entry(std::string_view name, std::string_view lines = "") {
  return "[" + std::string(name) + "]\r\nGuid=" + std::string(kGuid) +
         "\r\nPhoneNumber=vpn.example.org\r\n" + std::string(lines);
}

struct ReproducedCase {
  const char* name;
  std::string phonebook;
  std::string entry;    // as asked for
  std::string created;  // as the phonebook spells it
  std::vector<std::string> keys;
  friend void PrintTo(const ReproducedCase& c, std::ostream* os) { *os << c.name; }
};

class ReproducedEntryTest : public testing::TestWithParam<ReproducedCase> {};

TEST_P(ReproducedEntryTest, ComesBackExactlyAndStays) {
  const ReproducedCase& c = GetParam();
  ExpectReproduced(c.phonebook, c.entry, c.created, c.keys);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReproducedEntryTest,
    testing::Values(
        ReproducedCase{"BracketInsideTheName", Entry("a]b"), "a]b", "a]b", {}},
        ReproducedCase{"NameEndingInABracket", Entry("a]"), "a]", "a]", {}},
        ReproducedCase{"NameStartingAsAComment", Entry(";x"), ";x", ";x", {}},
        ReproducedCase{
            "NameAskedInOtherLetterCase", Entry("Office VPN"), "OFFICE vpn", "Office VPN", {}},
        ReproducedCase{"EntryNamedLikeTheRule",
                       Entry("Managed", "Type=2\r\n"),
                       "managed",
                       "Managed",
                       {"Type"}},
        ReproducedCase{
            "OtherEntriesLeftOut",
            "[before]\r\nType=1\r\n" + Entry("E", "Type=2\r\n") + "[after]\r\nType=3\r\n",
            "E",
            "E",
            {"Type"}},
        ReproducedCase{"BackslashesAroundTheJoin",
                       Entry("E", "X=a\\r\r\nX=\\nb\r\nY=c\\\r\nY=\\r\r\nY=n\\\r\n"),
                       "E",
                       "E",
                       {"X"}},
        ReproducedCase{"ThreeLinesOfOneKeyInMixedCase",
                       Entry("E", "Routes=1\r\nROUTES=2\r\nroutes=3\r\n"),
                       "E",
                       "E",
                       {"Routes"}},
        ReproducedCase{
            "RepeatedPhoneNumberUsesTheLast",
            "[E]\r\nGuid=" + std::string(kGuid) + "\r\nPhoneNumber=a\r\nPhoneNumber=b\r\n",
            "E",
            "E",
            {}},
        ReproducedCase{"BytesAbove127",
                       Entry("\xC3\xA9quipe", "Comment=\xE9t\xE9\r\n"),
                       "\xC3\xA9quipe",
                       "\xC3\xA9quipe",
                       {"Comment"}},
        ReproducedCase{"EmptyValuesAndBlanksInside",
                       Entry("E", "CustomDialDll=\r\nFriendly Name=a  b\r\n"),
                       "E",
                       "E",
                       {"CustomDialDll", "Friendly Name"}},
        ReproducedCase{
            "BlanksAroundEqualsAsWindowsReadsThem", Entry("E", "Type = 2\r\n"), "E", "E", {"Type"}},
        ReproducedCase{
            "EqualsInAValueNotManaged", Entry("E", "CustomAuthData=a=b\r\n"), "E", "E", {}},
        ReproducedCase{"KeyManagedTwice", Entry("E", "Type=2\r\n"), "E", "E", {"Type", "TYPE"}},
        ReproducedCase{"LowerCaseGuid",
                       "[E]\r\nGuid=0123456789abcdef0123456789abcdef\r\nPhoneNumber=x\r\n",
                       "E",
                       "E",
                       {}},
        ReproducedCase{"GuidThatWrapsRound",
                       "[E]\r\nGuid=0123456789ABCDEF01234567FFFFFFFF\r\nPhoneNumber=x\r\n",
                       "E",
                       "E",
                       {}},
        ReproducedCase{"LoneCarriageReturns",
                       "[E]\rGuid=" + std::string(kGuid) + "\rPhoneNumber=x\rType=2\r",
                       "E",
                       "E",
                       {"Type"}}),
    [](const testing::TestParamInfo<ReproducedCase>& info) {
      return std::string(info.param.name);
    });

struct RefusedCase {
  const char* name;
  std::string phonebook;
  std::string entry;
  std::vector<std::string> keys;
  std::vector<std::string> problems;
  friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

class RefusedEntryTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedEntryTest, NamesEntryKeyAndProblem) {
  const EntryTemplate made = Make(GetParam().phonebook, GetParam().entry, GetParam().keys);
  EXPECT_EQ(Problems(made), GetParam().problems);
  EXPECT_EQ(made.text, "");
}

const std::string kRepeat = "; a template repeats a key only on adjacent lines";
const std::string kBar = " holds \"|\", which separates a rule's assignments";

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedEntryTest,
    testing::Values(
        RefusedCase{"NoSuchEntry", Entry("F"), "E", {}, {"[E] there is no such entry"}},
        RefusedCase{
            "BlanksAroundTheNameAsked", Entry("E"), " E", {}, {"[ E] there is no such entry"}},
        RefusedCase{"TwoEntriesOfTheName",
                    Entry("E") + Entry("e"),
                    "E",
                    {},
                    {"[E] 2 entries have this name (letter case ignored); which one is meant is "
                     "unclear"}},
        RefusedCase{"TwoEntriesOfTheSameName",
                    Entry("E") + Entry("E"),
                    "e",
                    {},
                    {"[e] 2 entries have this name (letter case ignored); which one is meant is "
                     "unclear"}},
        RefusedCase{
            "NamedConfig",
            Entry("Config"),
            "config",
            {},
            {"[Config] an entry named \"config\" would be the template's [config] section"}},
        RefusedCase{"BarInTheName",
                    Entry("a|b"),
                    "a|b",
                    {},
                    {"[a|b] the name holds \"|\", which separates the names of [config] cresecs"}},
        RefusedCase{"EmptyName",
                    Entry(""),
                    "",
                    {},
                    {"the entry's name is empty; the tool cannot create it"}},
        RefusedCase{"NoLines",
                    "[E]\r\n; nothing\r\n",
                    "E",
                    {},
                    {"[E] the entry has no lines",
                     "[E] Guid: is missing; the created entry's Guid is derived from it",
                     "[E] PhoneNumber: is missing; the template's rule finds entries by it"}},
        RefusedCase{"LineWithoutEquals",
                    Entry("E", "junk\r\n"),
                    "E",
                    {},
                    {"[E] line 3 \"junk\" has no \"=\"; a template entry holds key=value lines "
                     "only"}},
        RefusedCase{"LineWithoutKey",
                    Entry("E", "=1\r\n"),
                    "E",
                    {},
                    {"[E] line 3 \"=1\" has no key before \"=\""}},
        RefusedCase{"EscapeInAValue",
                    Entry("E", "Comment=a\\r\\nb\r\n"),
                    "E",
                    {},
                    {"[E] Comment: the value holds the four characters \\r\\n, which a template "
                     "turns into a line break"}},
        RefusedCase{
            "KeyRepeatedFurtherOn",
            Entry("E", "Type=1\r\nX=2\r\ntype=3\r\n"),
            "E",
            {},
            {"[E] type: appears again on line 5, after other keys (first on line 3)" + kRepeat}},
        RefusedCase{"PhoneNumberRepeatedFurtherOn",
                    Entry("E", "Type=1\r\nPHONENUMBER=b\r\n"),
                    "E",
                    {},
                    {"[E] PHONENUMBER: appears again on line 4, after other keys (first on line "
                     "2)" +
                     kRepeat}},
        RefusedCase{"GuidMissing",
                    "[E]\r\nPhoneNumber=x\r\n",
                    "E",
                    {},
                    {"[E] Guid: is missing; the created entry's Guid is derived from it"}},
        RefusedCase{"GuidOnTwoLines",
                    "[E]\r\nGuid=" + std::string(kGuid) + "\r\nGUID=" + std::string(kGuid) +
                        "\r\nPhoneNumber=x\r\n",
                    "E",
                    {},
                    {"[E] Guid: appears on 2 lines; the tool gives the created entry one Guid"}},
        RefusedCase{"GuidNotHex",
                    "[E]\r\nGuid={01234567-89AB-CDEF-0123-456789ABCDEF}\r\nPhoneNumber=x\r\n",
                    "E",
                    {},
                    {"[E] Guid: \"{01234567-89AB-CDEF-0123-456789ABCDEF}\" is not; it must be 32 "
                     "hexadecimal digits"}},
        RefusedCase{"PhoneNumberMissing",
                    "[E]\r\nGuid=" + std::string(kGuid) + "\r\n",
                    "E",
                    {},
                    {"[E] PhoneNumber: is missing; the template's rule finds entries by it"}},
        RefusedCase{"PhoneNumberEmpty",
                    "[E]\r\nGuid=" + std::string(kGuid) + "\r\nPhoneNumber=\r\n",
                    "E",
                    {},
                    {"[E] PhoneNumber: is empty; a rule finding entries by it would manage every "
                     "entry without a phone number"}},
        RefusedCase{"PhoneNumberWithEquals",
                    "[E]\r\nGuid=" + std::string(kGuid) + "\r\nPhoneNumber=a=b\r\n",
                    "E",
                    {},
                    {"[E] PhoneNumber: \"a=b\" holds \"=\", which the rule's "
                     "id=PhoneNumber=value cannot carry"}},
        RefusedCase{"ManagedKeyMissing",
                    Entry("E"),
                    "E",
                    {"Nope"},
                    {"[E] Nope: is not in the entry, so the rule cannot take its value from it "
                     "(--manage)"}},
        RefusedCase{"ManagedKeyEmpty",
                    Entry("E", "Type=2\r\n"),
                    "E",
                    {"Type", ""},
                    {"[E] --manage lists an empty key (a doubled or trailing \",\")"}},
        RefusedCase{"ManagedValueWithBar",
                    Entry("E", "Comment=a|b\r\n"),
                    "E",
                    {"comment"},
                    {"[E] Comment: \"a|b\"" + kBar}},
        RefusedCase{"ManagedValueWithEquals",
                    Entry("E", "Comment=a=b\r\n"),
                    "E",
                    {"Comment"},
                    {"[E] Comment: \"a=b\" holds \"=\", which a rule's assignment cannot carry"}},
        RefusedCase{"ManagedKeyWithBar",
                    Entry("E", "A|B=1\r\n"),
                    "E",
                    {"a|b"},
                    {"[E] A|B: the key holds \"|\", which separates a rule's assignments"}},
        RefusedCase{"EveryProblemInOrder",
                    "[E]\r\nx\r\nA=1\r\nB=2\r\nA=3\r\n",
                    "E",
                    {"C"},
                    {"[E] line 1 \"x\" has no \"=\"; a template entry holds key=value lines only",
                     "[E] A: appears again on line 4, after other keys (first on line 2)" + kRepeat,
                     "[E] Guid: is missing; the created entry's Guid is derived from it",
                     "[E] PhoneNumber: is missing; the template's rule finds entries by it",
                     "[E] C: is not in the entry, so the rule cannot take its value from it "
                     "(--manage)"}}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lw
