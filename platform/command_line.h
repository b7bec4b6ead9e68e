// Cutting a Windows command line into arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lw {

// Arguments 1..n of `commandLine`: bytes 0x01-0x20 separate arguments except inside
// double quotes, quote characters are dropped, two quotes that open an argument are
// skipped, the program (argument 0) is left out, and the list ends before the first
// argument that comes out empty. The text ends at a NUL byte.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace lw
