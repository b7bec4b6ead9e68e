// Program entry: banner, version gate, modes from the file name and the switches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/run_flags.h"
#include "support/exception.h"

namespace lw {

class Platform;

// The file-name part of a path (after its last "\" or ":"), letters A-Z lowered.
std::string ExeNameOf(std::string_view executablePath);

// Runs the tool and returns the exit status; a registry write error escapes.
int RunStartup(Platform& platform);

// The report of an error that ended the process, as written to standard error.
std::string UnhandledErrorReport(const Exception& error, std::string_view executablePath,
                                 std::uintptr_t moduleBase);

// RunStartup, turning an escaped error into the report and status 1.
int RunProcess(Platform& platform);

}  // namespace lw
