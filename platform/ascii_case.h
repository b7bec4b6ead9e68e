// ASCII letter case, for every layer: only A-Z and a-z change, every other byte stays.
// Names that follow the system's code page fold with Platform::UpperCase instead.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace lw {

constexpr char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Upper-cases the ASCII letters of `size` bytes in place.
constexpr void AsciiUpperInPlace(char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) bytes[i] = AsciiUpper(bytes[i]);
}

// True when `a` and `b` are equal ignoring ASCII case.
constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiUpper(x) == AsciiUpper(y);
         });
}

}  // namespace lw
