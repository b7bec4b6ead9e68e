#include "support/strarray.h"

#include <cstddef>

namespace lw {
namespace {

// Calls `onMatch(i)` for every 0-based position where `Delimiter` matches outside quotes.
template <typename OnMatch>
void ScanMatches(std::string_view Text, std::string_view Delimiter, char Quote, OnMatch onMatch) {
  bool inside = false;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == Quote) inside = !inside;
    if (!inside && Text.compare(i, Delimiter.size(), Delimiter) == 0) onMatch(i);
  }
}

}  // namespace

void ClearStrArray(TDynStrArray& Arr) {
  Arr.clear();
  Arr.shrink_to_fit();
}

TDynStrArray SplitString(std::string_view Text, std::string_view Delimiter, std::int32_t MinCount,
                         char Quote) {
  TDynStrArray result;
  if (Text.empty()) {
    if (!Delimiter.empty() && MinCount > 0) result.resize(static_cast<std::size_t>(MinCount));
    return result;
  }
  const std::size_t minimum = MinCount > 0 ? static_cast<std::size_t>(MinCount) : 0;
  if (Delimiter.empty()) {
    result.resize(minimum > 1 ? minimum : 1);
    result[0] = Text;
    return result;
  }

  std::size_t matches = 0;
  ScanMatches(Text, Delimiter, Quote, [&](std::size_t) { ++matches; });
  result.resize(matches + 1 > minimum ? matches + 1 : minimum);

  // `start` is where the current piece begins; it can lie past a match's position when
  // delimiters overlap, and the piece between them is then empty.
  std::size_t start = 0;
  std::size_t k = 0;
  ScanMatches(Text, Delimiter, Quote, [&](std::size_t i) {
    if (i > start) result[k] = Text.substr(start, i - start);
    ++k;
    start = i + Delimiter.size();
  });
  if (start < Text.size()) result[k] = Text.substr(start);
  return result;
}

}  // namespace lw
