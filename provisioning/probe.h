// Does a phonebook already hold one of the template's creatable entries?
#pragma once

#include "ini/mem_ini_file.h"
#include "support/log.h"

namespace lw {

// True when a section named in the template's "cresecs" has a line under it in
// `phonebook`. Reads only; logs its own errors and returns false after one.
bool ProbeExistingEntries(Log& log, const TMemIniFile& templ, const TMemIniFile& phonebook);

}  // namespace lw
