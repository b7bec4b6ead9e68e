// The process-wide run state: set at start-up, narrowed by the provisioning run.
#pragma once

#include <string>
#include <string_view>

namespace lw {

inline constexpr std::string_view BuildStamp = "2019061101";

struct RunFlags {
  std::string ExeName;  // lower-cased file name of the executable
  bool CreateEnabled = true;
  bool ForceLocalGateway = false;
  bool ForceRemoteGateway = false;
  bool IsAdministrator = false;  // result of the latest administrator check
  bool AllUsers = false;         // the all-users phonebook is the target for creation
};

// Process exit statuses.
enum ExitStatus : int {
  kExitSuccess = 0,
  kExitUnhandledError = 1,  // the registry value could not be written
  kExitErrorsLogged = 2,    // a phonebook could not be read, written or provisioned
  kExitNotAdministrator = 3,
  kExitOldWindows = 4,
};

}  // namespace lw
