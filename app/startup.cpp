#include "app/startup.h"

#include "app/pauses.h"
#include "app/provisioning_run.h"
#include "platform/ascii_case.h"
#include "platform/hex.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "support/isadmin.h"
#include "support/log.h"
#include "support/os_version.h"
#include "support/regutils.h"

namespace lw {
namespace {

constexpr std::string_view kSstpParameters =
    "System\\CurrentControlSet\\Services\\Sstpsvc\\Parameters";
constexpr std::string_view kNoCertRevocationCheck = "NoCertRevocationCheck";
constexpr std::string_view kAdminRefused = "* admin mode failed - not running as administrator !";

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

void PrintHelp(Log& log, const std::string& exeName) {
  log.Line(exeName + " [/u] [/l] [/a] [/r] [/R]");
  log.Line("/u - update only (no create)");
  log.Line("/l - force local gateway (internet access through local connection)");
  log.Line("/g - force remote gateway (internet access through vpn connection)");
  log.Line("/a - all users connection (admin only)");
  log.Line("/r - SSTP NoCertRevocationCheck (admin only)");
  log.Line("/R - SSTP CertRevocationCheck (admin only)");
}

// All-users mode, for administrators only; false when refused, after the user has
// confirmed the refusal with Enter.
bool EnterAllUsersMode(Platform& platform, RunFlags& flags, Log& log) {
  flags.IsAdministrator = IsUserAdmin(platform);
  if (!flags.IsAdministrator) {
    log.Line(kAdminRefused);
    platform.ReadLine();
    return false;
  }
  flags.AllUsers = true;
  return true;
}

}  // namespace

void ApplyNameModes(RunFlags& flags, Log& log) {
  const std::string& name = flags.ExeName;
  if (Contains(name, "updt")) {
    flags.CreateEnabled = false;
    log.Line("* update only mode !");
  }
  if (Contains(name, "remgw")) {
    flags.ForceRemoteGateway = true;
    log.Line("* remote gateway mode");
  } else if (Contains(name, "locgw")) {
    flags.ForceLocalGateway = true;
    log.Line("* local gateway mode");
  }
}

bool NameAsksForAllUsers(std::string_view exeName) {
  return Contains(exeName, "admin");
}

bool ApplyPlainSwitch(std::string_view argument, RunFlags& flags) {
  if (argument == "/u") {
    flags.CreateEnabled = false;
  } else if (argument == "/g") {
    flags.ForceRemoteGateway = true;
  } else if (argument == "/l") {
    flags.ForceLocalGateway = true;
  } else {
    return false;
  }
  return true;
}

std::string ExeNameOf(const Platform& platform, std::string_view executablePath) {
  std::string name(LastPart(executablePath, "\\:", platform));
  for (std::size_t pos = 0; pos < name.size(); pos = NextCharacter(name, pos, platform)) {
    name[pos] = AsciiLower(name[pos]);
  }
  return name;
}

int RunStartup(Platform& platform) {
  Log log(platform);
  RunFlags flags;
  flags.ExeName = ExeNameOf(platform, platform.ExecutablePath());
  const std::string banner = flags.ExeName + " " + std::string(BuildStamp);
  log.Line(banner);
  for (int i = 0; i < kBannerPauses; ++i) platform.Sleep(kBannerPauseMs);

  if (GetOSVersionNumber(platform) < 60) {
    log.Line(flags.ExeName + " not running in vista (6.0) or superior !");
    return kExitOldWindows;
  }

  ApplyNameModes(flags, log);
  if (NameAsksForAllUsers(flags.ExeName)) {
    if (!EnterAllUsersMode(platform, flags, log)) return kExitNotAdministrator;
    log.Line("* admin mode");
  } else {
    flags.AllUsers = false;
    log.Line("* user mode");
  }

  bool registrySwitchIgnored = false;
  for (const std::string& argument : platform.Arguments()) {
    if (argument == "/?") {
      PrintHelp(log, flags.ExeName);
      return kExitSuccess;
    } else if (ApplyPlainSwitch(argument, flags)) {
      continue;
    } else if (argument == "/a") {
      if (!EnterAllUsersMode(platform, flags, log)) return kExitNotAdministrator;
    } else if (argument == "/r" || argument == "/R") {
      const int value = argument == "/r" ? 1 : 0;
      flags.IsAdministrator = IsUserAdmin(platform);
      if (flags.IsAdministrator) {
        RegWriteMachineInteger(platform, kSstpParameters, kNoCertRevocationCheck, value);
      } else {
        log.Line(argument + " NoCertRevocationCheck=" + std::to_string(value) +
                 " ignored - not running as administrator !");
        registrySwitchIgnored = true;
      }
    }
  }

  RunProvisioning(platform, flags, log);
  log.Line(banner + " done ...");
  platform.Sleep(kClosingPauseMs);
  if (log.ErrorLogged()) return kExitErrorsLogged;
  return registrySwitchIgnored ? kExitNotAdministrator : kExitSuccess;
}

std::string UnhandledErrorReport(Platform& platform, const Exception& error) {
  const std::string executablePath = platform.ExecutablePath();
  const std::uintptr_t moduleBase = platform.ModuleBase();
  std::string report = "Exception ";
  report += error.ClassName();
  report += " in module ";
  report += LastPart(executablePath, kCoreSeparator, platform);
  report += " at ";
  report += EightHexDigits(static_cast<std::uint32_t>(error.RaiseAddress() - moduleBase));
  report += ".\r\n";
  report += error.Message();
  if (error.Message().empty() || error.Message().back() != '.') report += '.';
  report += "\r\n\r\n";
  return report;
}

int RunProcess(Platform& platform) {
  try {
    return RunStartup(platform);
  } catch (const Exception& error) {
    platform.WriteError(UnhandledErrorReport(platform, error));
    return kExitUnhandledError;
  }
}

}  // namespace lw
