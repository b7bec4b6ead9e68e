// The identifier of a created entry, derived from the template's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lw {

// Characters 1-24 of `templateGuid`, then characters 25-32 read as hex, plus one
// (mod 2^32), as eight upper-case hex digits. An empty or invalid tail counts as 0.
std::string DeriveEntryGuid(std::string_view templateGuid);

}  // namespace lw
