// Program entry: banner, version gate, modes from the file name and the switches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/run_flags.h"
#include "support/exception.h"
#include "support/log.h"

namespace lw {

class Platform;

// The file-name part of a path (after its last "\" or ":"), letters A-Z lowered; the
// second byte of a double-byte character is never a separator and never lowered.
std::string ExeNameOf(const Platform& platform, std::string_view executablePath);

// The modes that words of flags.ExeName choose: "updt" update only, "remgw" or else "locgw"
// a forced gateway; each logs its line.
void ApplyNameModes(RunFlags& flags, Log& log);
// Whether the file name asks for all-users mode ("admin").
bool NameAsksForAllUsers(std::string_view exeName);
// The switches that only set a flag: /u, /g, /l. False for any other argument.
bool ApplyPlainSwitch(std::string_view argument, RunFlags& flags);

// Runs the tool and returns the exit status; a registry write error escapes.
int RunStartup(Platform& platform);

// The report of an error that ended the process, as written to standard error; it names
// the executable by the part of its path after the last "\".
std::string UnhandledErrorReport(Platform& platform, const Exception& error);

// RunStartup, turning an escaped error into the report and status 1.
int RunProcess(Platform& platform);

}  // namespace lw
