// Program entry: banner, version gate, modes from the file name and the switches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/run_flags.h"
#include "support/exception.h"

namespace lw {

class Platform;

// The file-name part of a path (after its last "\" or ":"), letters A-Z lowered; the
// second byte of a double-byte character is never a separator and never lowered.
std::string ExeNameOf(const Platform& platform, std::string_view executablePath);

// Runs the tool and returns the exit status; a registry write error escapes.
int RunStartup(Platform& platform);

// The report of an error that ended the process, as written to standard error; it names
// the executable by the part of its path after the last "\".
std::string UnhandledErrorReport(Platform& platform, const Exception& error);

// RunStartup, turning an escaped error into the report and status 1.
int RunProcess(Platform& platform);

}  // namespace lw
