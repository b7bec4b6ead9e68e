#include "provisioning/guid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "platform/hex.h"

namespace lw {
namespace {

struct GuidCase {
  const char* name;
  const char* templateGuid;
  const char* expected;
  friend void PrintTo(const GuidCase& c, std::ostream* os) { *os << c.name; }
};

class DeriveEntryGuidTest : public testing::TestWithParam<GuidCase> {};

TEST_P(DeriveEntryGuidTest, Derives) {
  EXPECT_EQ(DeriveEntryGuid(GetParam().templateGuid), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeriveEntryGuidTest,
    testing::Values(
        GuidCase{"Increments", "5E3A7C1D2B9F4A68B1C0D4E799002F38",
                 "5E3A7C1D2B9F4A68B1C0D4E799002F39"},
        GuidCase{"CarriesAcrossDigits", "00000000000000000000000000000FFF",
                 "00000000000000000000000000001000"},
        GuidCase{"WrapsAtTwoToThe32", "5E3A7C1D2B9F4A68B1C0D4E7FFFFFFFF",
                 "5E3A7C1D2B9F4A68B1C0D4E700000000"},
        GuidCase{"LowerCaseTailReadAndWrittenUpper", "5e3a7c1d2b9f4a68b1c0d4e7abcdef0a",
                 "5e3a7c1d2b9f4a68b1c0d4e7ABCDEF0B"},
        GuidCase{"Empty", "", "00000001"},
        GuidCase{"InvalidTailCountsAsZero", "5E3A7C1D2B9F4A68B1C0D4E79900ZZ38",
                 "5E3A7C1D2B9F4A68B1C0D4E700000001"},
        GuidCase{"SignIsNoDigit", "5E3A7C1D2B9F4A68B1C0D4E7-0000001",
                 "5E3A7C1D2B9F4A68B1C0D4E700000001"},
        GuidCase{"ShortTail", "5E3A7C1D2B9F4A68B1C0D4E7FF", "5E3A7C1D2B9F4A68B1C0D4E700000100"},
        GuidCase{"PrefixOnly", "5E3A7C1D2B9F4A68B1C0D4E7", "5E3A7C1D2B9F4A68B1C0D4E700000001"},
        GuidCase{"ShorterThanPrefix", "ABC", "ABC00000001"},
        GuidCase{"LongerGuidUsesDigits25To32Only", "5E3A7C1D2B9F4A68B1C0D4E70000000AFFFF",
                 "5E3A7C1D2B9F4A68B1C0D4E70000000B"}),
    [](const testing::TestParamInfo<GuidCase>& info) { return std::string(info.param.name); });

TEST(EightHexDigitsTest, PadsAndUpperCases) {
  const struct {
    std::uint32_t value;
    const char* digits;
  } cases[] = {{0, "00000000"},
               {0x1234, "00001234"},
               {0xABCDEF01u, "ABCDEF01"},
               {0x80000000u, "80000000"},
               {0xFFFFFFFFu, "FFFFFFFF"}};
  for (const auto& c : cases) EXPECT_EQ(EightHexDigits(c.value), c.digits) << c.digits;
}

}  // namespace
}  // namespace lw
