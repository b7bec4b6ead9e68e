#include "provisioning/gateway.h"

#include <algorithm>

namespace lw {
namespace {

constexpr std::string_view kGatewayKey = "ipprioritizeremote";

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool IsGatewayKey(std::string_view key) {
  return std::equal(key.begin(), key.end(), kGatewayKey.begin(), kGatewayKey.end(),
                    [](char a, char b) { return LowerAscii(a) == b; });
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
