// lwtemplate's commands: check, stamp, from-phonebook, show and plan, with usage and help.
#pragma once

#include <string>
#include <vector>

namespace lw {

class Platform;

inline constexpr int kToolSuccess = 0;
inline constexpr int kToolChanges = 1;  // plan: a run would change a phonebook
inline constexpr int kToolRefused = 2;

// Runs the command that `args` (the arguments after the program's name) names. Reports go
// to the platform's standard error as "FILE: problem" lines, what is made or shown to its
// standard output. Executables and templates are read with the C++ library, phonebooks
// through the platform as a run reads them; every file written goes through the platform
// (beside its target first, then put in its place).
// Returns kToolSuccess, kToolChanges (plan only), or kToolRefused when anything is refused.
int RunTemplateTool(Platform& platform, const std::vector<std::string>& args);

}  // namespace lw
