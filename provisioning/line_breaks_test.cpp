#include "provisioning/line_breaks.h"

#include <gtest/gtest.h>

#include <ostream>

namespace lw {
namespace {

struct BreakCase {
  const char* name;
  const char* value;
  const char* expected;
  friend void PrintTo(const BreakCase& c, std::ostream* os) { *os << c.name; }
};

class ExpandLineBreaksTest : public testing::TestWithParam<BreakCase> {};

TEST_P(ExpandLineBreaksTest, Expands) {
  EXPECT_EQ(ExpandLineBreaks(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpandLineBreaksTest,
    testing::Values(BreakCase{"Empty", "", ""}, BreakCase{"None", "C0000200", "C0000200"},
                    BreakCase{"Routes", "A\\r\\nRoutes=B", "A\r\nRoutes=B"},
                    BreakCase{"Every", "\\r\\n1\\r\\n2\\r\\n", "\r\n1\r\n2\r\n"},
                    BreakCase{"Adjacent", "\\r\\n\\r\\n", "\r\n\r\n"},
                    BreakCase{"BackslashBefore", "\\\\r\\nn", "\\\r\nn"},
                    BreakCase{"CaseSensitive", "a\\R\\Nb\\r\\Nc", "a\\R\\Nb\\r\\Nc"},
                    BreakCase{"HalfEscapes", "\\r \\n\\r", "\\r \\n\\r"},
                    BreakCase{"RealBreaksKept", "a\r\nb", "a\r\nb"}),
    [](const testing::TestParamInfo<BreakCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lw
