// The provisioning run: the per-user and all-users phonebooks, probed, passed and saved.
#pragma once

#include <string_view>

#include "app/run_flags.h"
#include "support/log.h"

namespace lw {

class Platform;

// Path of a phonebook below the folder named by an environment variable.
inline constexpr std::string_view kPhonebookSuffix =
    "\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";

// Runs once after start-up; logs every error and never lets one escape.
void RunProvisioning(Platform& platform, RunFlags& flags, Log& log);

}  // namespace lw
