// Cutting one line of text into an array of strings at a delimiter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

// A growable, zero-based array of byte strings, owned by the variable holding it.
using TDynStrArray = std::vector<std::string>;

// Sets the length to 0, releasing the elements.
void ClearStrArray(TDynStrArray& Arr);

// Cuts `Text` at every occurrence of `Delimiter` (bytes compared exactly; overlapping
// occurrences each count). The result is padded with empty elements up to `MinCount`.
// A `Quote` character switches matching off until the next one; quotes stay in the
// pieces. An empty text gives no elements; an empty delimiter gives the whole text.
TDynStrArray SplitString(std::string_view Text, std::string_view Delimiter, std::int32_t MinCount,
                         char Quote);

}  // namespace lw
