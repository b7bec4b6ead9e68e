// Cutting text into lines: CR LF, a lone CR and a lone LF each end one line; the text
// ends at its first NUL byte.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/text_before_nul.h"

namespace lw {

// A text (up to its first NUL) and what its breaks are like, learnt in one pass.
struct TextShape {
  std::string_view text;
  std::size_t lineFeeds = 0;
  bool loneCr = false;  // some CR is not followed by LF
};

inline TextShape ShapeOf(std::string_view text) {
  TextShape shape;
  shape.text = TextBeforeNul(text);
  const char* const p = shape.text.data();
  const std::size_t n = shape.text.size();
  // Counted in blocks of at most 255 bytes into byte-wide counters, which the compiler
  // turns into vector code; the last byte has no pair.
  std::size_t lineFeeds = 0;
  std::size_t carriageReturns = 0;
  std::size_t pairs = 0;
  for (std::size_t i = 0; i < n;) {
    const std::size_t block = n - i < 255 ? n - i : 255;
    const std::size_t paired = i + block < n ? block : block - 1;
    unsigned char lf = 0;
    unsigned char cr = 0;
    unsigned char crLf = 0;
    for (std::size_t j = i; j < i + block; ++j) {
      lf = static_cast<unsigned char>(lf + (p[j] == '\n'));
      cr = static_cast<unsigned char>(cr + (p[j] == '\r'));
    }
    for (std::size_t j = i; j < i + paired; ++j) {
      crLf = static_cast<unsigned char>(crLf + ((p[j] == '\r') & (p[j + 1] == '\n')));
    }
    lineFeeds += lf;
    carriageReturns += cr;
    pairs += crLf;
    i += block;
  }
  shape.lineFeeds = lineFeeds;
  shape.loneCr = carriageReturns != pairs;
  return shape;
}

// Calls `onLine` with each line of the text, in order; a break at the very end adds no
// line.
template <typename OnLine>
void ForEachLine(const TextShape& shape, OnLine&& onLine) {
  const char* p = shape.text.data();
  const char* const end = p + shape.text.size();
  if (!shape.loneCr) {
    // Every CR ends a line together with the LF after it: only LFs need finding.
    while (p != end) {
      const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      const char* const lf = found != nullptr ? static_cast<const char*>(found) : end;
      const char* const stop = lf != p && lf[-1] == '\r' ? lf - 1 : lf;
      onLine(std::string_view(p, static_cast<std::size_t>(stop - p)));
      p = lf == end ? end : lf + 1;
    }
    return;
  }
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

template <typename OnLine>
void ForEachLine(std::string_view text, OnLine&& onLine) {
  ForEachLine(ShapeOf(text), onLine);
}

// A cheap estimate of the number of lines, for reserving.
inline std::size_t LineCountHint(const TextShape& shape) {
  return shape.lineFeeds + 1;
}

}  // namespace lw
