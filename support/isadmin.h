// Whether the process runs with the rights of the local Administrators group.
#pragma once

#include "platform/platform.h"

namespace lw {

// True when the process token holds the Administrators group enabled; false on any
// failure. Asks the system afresh on every call.
bool IsUserAdmin(Platform& platform);

}  // namespace lw
