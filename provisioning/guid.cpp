#include "provisioning/guid.h"

#include <cstddef>
#include <cstdint>

#include "platform/hex.h"

namespace lw {
namespace {

constexpr std::size_t kPrefixLength = 24;
constexpr std::size_t kTailLength = 8;

}  // namespace

std::string DeriveEntryGuid(std::string_view templateGuid) {
  const std::string_view prefix = templateGuid.substr(0, kPrefixLength);
  const std::string_view tail = templateGuid.size() > kPrefixLength
                                    ? templateGuid.substr(kPrefixLength, kTailLength)
                                    : std::string_view();
  // Unsigned arithmetic wraps FFFFFFFF to 0.
  const std::uint32_t next = ParseHex(tail).value_or(0) + 1u;
  std::string result(prefix);
  result += EightHexDigits(next);
  return result;
}

}  // namespace lw
