// Hexadecimal numbers, for every layer: written with upper-case digits, read in either case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lw {

// The value of a hexadecimal digit, or -1.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr bool IsHexDigit(char c) {
  return HexDigitValue(c) >= 0;
}

// The number `digits` write, modulo 2^32; nothing when there are none or one is no digit.
constexpr std::optional<std::uint32_t> ParseHex(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// `value` in at least `width` digits, zeros in front.
inline std::string HexDigits(std::uint64_t value, int width = 1) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string digits;
  for (; value != 0 || width > 0; value >>= 4, --width) {
    digits.insert(digits.begin(), kDigits[value & 0xFu]);
  }
  return digits;
}

// Written without printf, which would link into an executable that has no other use for it.
inline std::string EightHexDigits(std::uint32_t value) {
  return HexDigits(value, 8);
}

}  // namespace lw
