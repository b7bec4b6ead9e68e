// lwtemplate's commands: check, stamp and from-phonebook, with usage and help.
#pragma once

#include <string>
#include <vector>

namespace lw {

class Platform;

inline constexpr int kToolSuccess = 0;
inline constexpr int kToolRefused = 2;

// Runs the command that `args` (the arguments after the program's name) names. Reports go
// to the platform's standard error as "FILE: problem" lines, a made template to its
// standard output; input files are read with the C++ library, the stamped executable is
// written through the platform (beside its target first, then put in its place).
// Returns kToolSuccess, or kToolRefused when anything is refused.
int RunTemplateTool(Platform& platform, const std::vector<std::string>& args);

}  // namespace lw
