// Cutting a Windows command line into arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lw {

// Arguments 1..n of `commandLine`: bytes 0x01-0x20 separate arguments except inside
// double quotes, and quote characters are dropped. Before each argument, every pair of
// adjacent quotes is skipped with the separators after it, so the list never sees them.
// The program (argument 0, the first word, even an empty "") is left out, and the list
// ends before the first argument that comes out empty: the end of the text, or a lone
// quote there. The text ends at a NUL byte.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace lw
