#include "provisioning/guid.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace lw {
namespace {

constexpr std::size_t kPrefixLength = 24;
constexpr std::size_t kTailLength = 8;

std::optional<std::uint32_t> ParseHex(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : digits) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
    value = (value << 4) | digit;
  }
  return value;
}

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

std::string EightHexDigits(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string digits;
  for (int shift = 28; shift >= 0; shift -= 4) digits += kDigits[(value >> shift) & 0xFu];
  return digits;
}

}  // namespace lw
