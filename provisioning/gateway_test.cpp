#include "provisioning/gateway.h"

#include <gtest/gtest.h>

#include <ostream>

namespace lw {
namespace {

struct GatewayCase {
  const char* name;
  const char* key;
  GatewayOverride gateway;
  const char* expected;  // written for the value "7"
  friend void PrintTo(const GatewayCase& c, std::ostream* os) { *os << c.name; }
};

class GatewayValueTest : public testing::TestWithParam<GatewayCase> {};

TEST_P(GatewayValueTest, Overrides) {
  EXPECT_EQ(GatewayValue(GetParam().key, "7", GetParam().gateway), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GatewayValueTest,
    testing::Values(GatewayCase{"NoOverride", "IpPrioritizeRemote", {}, "7"},
                    GatewayCase{"Local", "IpPrioritizeRemote", {true, false}, "0"},
                    GatewayCase{"Remote", "IpPrioritizeRemote", {false, true}, "1"},
                    GatewayCase{"BothMeansRemote", "IpPrioritizeRemote", {true, true}, "1"},
                    GatewayCase{"UpperCaseKey", "IPPRIORITIZEREMOTE", {false, true}, "1"},
                    GatewayCase{"LowerCaseKey", "ipprioritizeremote", {false, true}, "1"},
                    GatewayCase{"Ipv6KeyUntouched", "Ipv6PrioritizeRemote", {false, true}, "7"},
                    GatewayCase{"LongerKeyUntouched", "IpPrioritizeRemoteX", {false, true}, "7"},
                    GatewayCase{"PrefixUntouched", "IpPrioritize", {false, true}, "7"},
                    GatewayCase{"PaddedKeyUntouched", " IpPrioritizeRemote", {false, true}, "7"}),
    [](const testing::TestParamInfo<GatewayCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lw
