// The platform of the running operating system.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace lw {

// `argc` and `argv` as main receives them (Windows reads its own command line instead).
std::unique_ptr<Platform> CreateSystemPlatform(int argc, char** argv);

}  // namespace lw
