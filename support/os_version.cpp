#include "support/os_version.h"

#include "platform/platform.h"

namespace lw {

int GetOSVersionNumber(Platform& platform) {
  const OsVersion version = platform.GetVersion();
  return static_cast<int>(version.major * 10 + version.minor);
}

}  // namespace lw
