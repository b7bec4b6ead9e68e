// The provisioning run: the per-user and all-users phonebooks, probed, passed and saved.
#pragma once

#include <string_view>

#include "app/run_flags.h"
#include "ini/mem_ini_file.h"
#include "support/log.h"

namespace lw {

class Platform;

// Path of a phonebook below the folder named by an environment variable.
inline constexpr std::string_view kPhonebookSuffix =
    "\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";

// The line of an error that ends the run, before its message.
inline constexpr std::string_view kExceptionPrefix = "* exception: ";

// Runs once after start-up; logs every error and never lets one escape.
void RunProvisioning(Platform& platform, RunFlags& flags, Log& log);

// The per-user phonebook's work on its document, for the run and for lwtemplate plan alike.
// The pre-check: a creatable entry there turns creation and all-users mode off.
void PreCheckUserPhonebook(Log& log, const TMemIniFile& templ, const TMemIniFile& phonebook,
                           RunFlags& flags);
// The per-user pass: the probe again while this phonebook is the one to create in, then
// the pass, creating here only outside all-users mode.
void PassUserPhonebook(Log& log, const TMemIniFile& templ, TMemIniFile& phonebook, RunFlags& flags);

}  // namespace lw
