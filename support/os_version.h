// The Windows version the process runs on, as one number.
#pragma once

namespace lw {

class Platform;

// Major version x 10 + minor, as the platform reports it to this process (6.1 gives 61).
int GetOSVersionNumber(Platform& platform);

}  // namespace lw
