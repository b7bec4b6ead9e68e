#include "support/strarray.h"

#include <gtest/gtest.h>

#include <ostream>

namespace lw {
namespace {

struct SplitCase {
  const char* label;
  std::string_view text;
  std::string_view delimiter;
  std::int32_t minCount;
  char quote;
  TDynStrArray expected;
};

std::ostream& operator<<(std::ostream& out, const SplitCase& c) {
  return out << c.label;
}

class SplitStringTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitStringTest, GivesExpectedPieces) {
  const SplitCase& c = GetParam();
  EXPECT_EQ(SplitString(c.text, c.delimiter, c.minCount, c.quote), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitStringTest,
    ::testing::Values(SplitCase{"list", "a|b|c", "|", 0, '\0', {"a", "b", "c"}},
                      SplitCase{"no_delimiter", "abc", "|", 0, '\0', {"abc"}},
                      SplitCase{"empty_text", "", "|", 0, '\0', {}},
                      SplitCase{"lone_bar", "|", "|", 0, '\0', {"", ""}},
                      SplitCase{"leading_bar", "|a", "|", 0, '\0', {"", "a"}},
                      SplitCase{"trailing_bar", "a|", "|", 0, '\0', {"a", ""}},
                      SplitCase{"doubled_bar", "a||b", "|", 0, '\0', {"a", "", "b"}},
                      SplitCase{"blanks_kept", " a | b ", "|", 0, '\0', {" a ", " b "}},
                      SplitCase{"key_value", "key=value", "=", 0, '\0', {"key", "value"}},
                      SplitCase{"key_empty_value", "key=", "=", 0, '\0', {"key", ""}},
                      SplitCase{"key_alone", "key", "=", 0, '\0', {"key"}},
                      SplitCase{"lone_equals", "=", "=", 0, '\0', {"", ""}},
                      SplitCase{"value_with_equals", "a=b=c", "=", 0, '\0', {"a", "b", "c"}},
                      SplitCase{"two_byte_delimiter", "a::b", "::", 0, '\0', {"a", "b"}},
                      SplitCase{"two_byte_trailing", "a::", "::", 0, '\0', {"a", ""}},
                      SplitCase{"overlapping", "a===b", "==", 0, '\0', {"a", "", "b"}},
                      SplitCase{"overlapping_run", "a====b", "==", 0, '\0', {"a", "", "", "b"}},
                      SplitCase{"overlap_at_end", "x===", "==", 0, '\0', {"x", "", ""}},
                      SplitCase{"delimiter_longer_than_text", "ab", "abc", 0, '\0', {"ab"}},
                      SplitCase{"empty_delimiter", "abc", "", 0, '\0', {"abc"}},
                      SplitCase{"empty_delimiter_padded", "abc", "", 3, '\0', {"abc", "", ""}},
                      SplitCase{"empty_both_padded", "", "", 3, '\0', {}},
                      SplitCase{"padded", "a|b", "|", 4, '\0', {"a", "b", "", ""}},
                      SplitCase{"min_below_count", "a|b", "|", 1, '\0', {"a", "b"}},
                      SplitCase{"empty_text_padded", "", "|", 2, '\0', {"", ""}},
                      SplitCase{"negative_min", "a|b", "|", -5, '\0', {"a", "b"}},
                      SplitCase{"negative_min_empty_text", "", "|", -1, '\0', {}},
                      SplitCase{"negative_min_empty_delimiter", "abc", "", -3, '\0', {"abc"}},
                      SplitCase{"quoted_bar", "x'a|b'|y", "|", 0, '\'', {"x'a|b'", "y"}},
                      SplitCase{"unclosed_quote", "x'a|b", "|", 0, '\'', {"x'a|b"}},
                      SplitCase{
                          "reopened_quote", "'a|b'|'c|d'|e", "|", 0, '\'', {"'a|b'", "'c|d'", "e"}},
                      SplitCase{"quote_is_delimiter", "a|b|c|d", "|", 0, '|', {"a|b", "c|d"}},
                      SplitCase{"nul_quote_in_text",
                                std::string_view("a|\0|b|\0c", 8),
                                "|",
                                0,
                                '\0',
                                {"a", std::string("\0|b|\0c", 6)}},
                      SplitCase{"case_sensitive", "aXb", "x", 0, '\0', {"aXb"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ClearStrArrayTest, EmptiesTheArray) {
  TDynStrArray pieces = SplitString("a|b", "|", 0, '\0');
  ClearStrArray(pieces);
  EXPECT_TRUE(pieces.empty());
}

}  // namespace
}  // namespace lw
