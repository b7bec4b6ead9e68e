// The template's line-break escape.
#pragma once

#include <string>
#include <string_view>

namespace lw {

// Every "\r\n" (backslash r backslash n) in `value` becomes CR LF; left to right, the
// replaced text is not rescanned.
std::string ExpandLineBreaks(std::string_view value);

}  // namespace lw
