#include "provisioning/gateway.h"

#include "platform/ascii_case.h"

namespace lw {
namespace {

constexpr std::string_view kGatewayKey = "IpPrioritizeRemote";

}  // namespace

bool IsGatewayKey(std::string_view key) {
  return EqualIgnoringAsciiCase(key, kGatewayKey);
}

std::string GatewayValue(std::string_view key, std::string_view value, GatewayOverride gateway) {
  if (IsGatewayKey(key)) {
    // Local first, then remote: with both set, remote wins.
    if (gateway.remote) return std::string(1, '1');
    if (gateway.local) return std::string(1, '0');
  }
  return std::string(value);
}

}  // namespace lw
