// vpnsetup: the executable is the core library, the system platform and this entry.
#include "app/startup.h"
#include "platform/system_platform.h"

int main(int argc, char** argv) {
  const auto platform = lw::CreateSystemPlatform(argc, argv);
  return lw::RunProcess(*platform);
}
