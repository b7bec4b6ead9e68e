#include "provisioning/line_breaks.h"

namespace lw {

std::string ExpandLineBreaks(std::string_view value) {
  std::string result;
  result.reserve(value.size());
  std::size_t start = 0;
  for (std::size_t found = value.find(kLineBreakEscape); found != std::string_view::npos;
       found = value.find(kLineBreakEscape, start)) {
    result.append(value.substr(start, found - start));
    result += "\r\n";
    start = found + kLineBreakEscape.size();
  }
  result.append(value.substr(start));
  return result;
}

}  // namespace lw
