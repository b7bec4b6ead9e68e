// Names and separators of the provisioning template.
#pragma once

#include <string_view>

namespace lw {

inline constexpr std::string_view kConfigSection = "config";
inline constexpr std::string_view kManagedKey = "mansecs";    // managed section names
inline constexpr std::string_view kCreatableKey = "cresecs";  // creatable entry names
inline constexpr std::string_view kIdKey = "id";              // key=value finding entries
inline constexpr std::string_view kSetKey = "set";            // key=value|key=value...
inline constexpr std::string_view kGuidKey = "Guid";

inline constexpr std::string_view kListDelimiter = "|";
inline constexpr std::string_view kPairDelimiter = "=";

}  // namespace lw
