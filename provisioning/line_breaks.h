// The template's line-break escape.
#pragma once

#include <string>
#include <string_view>

namespace lw {

// The template's way of writing a line break into a value: backslash r backslash n.
inline constexpr std::string_view kLineBreakEscape = "\\r\\n";

// Every escape in `value` becomes CR LF; left to right, the replaced text is not rescanned.
std::string ExpandLineBreaks(std::string_view value);

}  // namespace lw
