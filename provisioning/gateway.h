// The run's override of the remote-gateway key (IpPrioritizeRemote).
#pragma once

#include <string>
#include <string_view>

namespace lw {

struct GatewayOverride {
  bool local = false;   // write "0": use the local gateway
  bool remote = false;  // write "1": use the remote gateway; wins over local
};

// True for the gateway key, whatever its ASCII letter case.
bool IsGatewayKey(std::string_view key);

// The value to write for `key`: `value`, unless `key` is the gateway key and an
// override is set.
std::string GatewayValue(std::string_view key, std::string_view value, GatewayOverride gateway);

}  // namespace lw
