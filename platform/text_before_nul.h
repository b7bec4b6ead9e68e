// Text as a C string sees it, for every layer: command lines, resources and files all end
// at their first NUL byte.
#pragma once

#include <cstddef>
#include <string_view>

namespace lw {

// The text up to, not including, its first NUL byte.
constexpr std::string_view TextBeforeNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace lw
