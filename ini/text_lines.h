// Cutting text into lines: CR LF, a lone CR and a lone LF each end one line; the text
// ends at its first NUL byte.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace lw {

// The text up to, not including, its first NUL byte.
inline std::string_view TextBeforeNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// Calls `onLine` with each line of `text`, in order; a break at the very end adds no line.
template <typename OnLine>
void ForEachLine(std::string_view text, OnLine&& onLine) {
  text = TextBeforeNul(text);
  const char* p = text.data();
  const char* const end = p + text.size();
  // memchr finds breaks far faster than a byte loop; the next LF is kept so that a text
  // of lone CRs is still scanned once.
  const char* nextLf = nullptr;
  while (p != end) {
    if (nextLf == nullptr || nextLf < p) {
      const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      nextLf = lf != nullptr ? static_cast<const char*>(lf) : end;
    }
    const void* cr = std::memchr(p, '\r', static_cast<std::size_t>(nextLf - p));
    const char* stop = cr != nullptr ? static_cast<const char*>(cr) : nextLf;
    onLine(std::string_view(p, static_cast<std::size_t>(stop - p)));
    p = stop;
    if (p != end && *p == '\r') ++p;
    if (p != end && *p == '\n') ++p;
  }
}

// A cheap estimate of the number of lines, for reserving.
inline std::size_t LineCountHint(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

}  // namespace lw
