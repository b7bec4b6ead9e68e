#include "app/provisioning_run.h"

#include <exception>
#include <string>

#include "ini/mem_ini_file.h"
#include "provisioning/pass.h"
#include "provisioning/probe.h"
#include "provisioning/template.h"
#include "support/os_version.h"

namespace lw {
namespace {

constexpr std::string_view kExceptionPrefix = "* exception: ";

std::string PhonebookPath(Platform& platform, std::string_view variable) {
  return platform.GetEnv(variable) + std::string(kPhonebookSuffix);
}

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('\\'));
}

class Run {
 public:
  Run(Platform& platform, RunFlags& flags, Log& log, const TMemIniFile& templ)
      : platform_(platform), flags_(flags), log_(log), templ_(templ) {}

  // Asks the existing phonebooks whether a creatable entry is already there.
  void PreCheck(const std::string& userPath, const std::string& allUsersPath) {
    log_.Line("* reading: " + userPath);
    if (platform_.FileExists(userPath)) {
      TMemIniFile phonebook(platform_, userPath);
      if (ProbeExistingEntries(log_, templ_, phonebook)) {
        flags_.CreateEnabled = false;
        flags_.AllUsers = false;
      }
      phonebook.SaveFile();
    }
    if (flags_.CreateEnabled && flags_.IsAdministrator && flags_.AllUsers) {
      log_.Line("* reading: " + allUsersPath);
      if (platform_.FileExists(allUsersPath)) {
        TMemIniFile phonebook(platform_, allUsersPath);
        if (ProbeExistingEntries(log_, templ_, phonebook)) flags_.CreateEnabled = false;
        phonebook.SaveFile();
      }
    }
  }

  void AllUsersPass(const std::string& path) {
    if (flags_.CreateEnabled || platform_.FileExists(path)) {
      platform_.CreateDirectories(FolderOf(path));
      TMemIniFile phonebook(platform_, path);
      if (CreatesForAllUsers() && ProbeExistingEntries(log_, templ_, phonebook)) {
        flags_.CreateEnabled = false;
      }
      ProcessPhonebook(log_, templ_, phonebook, CreatesForAllUsers(), Gateway());
      phonebook.SaveFile();
      platform_.Sleep(1000);
    }
    if (flags_.AllUsers) flags_.CreateEnabled = false;
  }

  void PerUserPass(const std::string& path) {
    platform_.CreateDirectories(FolderOf(path));
    if (flags_.CreateEnabled || platform_.FileExists(path)) {
      TMemIniFile phonebook(platform_, path);
      if (flags_.CreateEnabled && !flags_.AllUsers &&
          ProbeExistingEntries(log_, templ_, phonebook)) {
        flags_.CreateEnabled = false;
      }
      ProcessPhonebook(log_, templ_, phonebook, flags_.CreateEnabled && !flags_.AllUsers,
                       Gateway());
      phonebook.SaveFile();
      platform_.Sleep(1000);
    }
  }

 private:
  bool CreatesForAllUsers() const {
    return flags_.CreateEnabled && flags_.IsAdministrator && flags_.AllUsers;
  }
  GatewayOverride Gateway() const { return {flags_.ForceLocalGateway, flags_.ForceRemoteGateway}; }

  Platform& platform_;
  RunFlags& flags_;
  Log& log_;
  const TMemIniFile& templ_;
};

}  // namespace

void RunProvisioning(Platform& platform, RunFlags& flags, Log& log) {
  try {
    log.Line("* OS version: " + std::to_string(GetOSVersionNumber(platform)));
    TMemIniFile templ(platform, "");
    LoadTemplate(platform, templ);
    const std::string userPath = PhonebookPath(platform, "APPDATA");
    const std::string allUsersPath = PhonebookPath(platform, "ProgramData");
    Run run(platform, flags, log, templ);
    if (flags.CreateEnabled) run.PreCheck(userPath, allUsersPath);
    // An error while passing the phonebooks abandons the one being worked on.
    try {
      log.Line("* processing *.pbk");
      if (flags.IsAdministrator) run.AllUsersPass(allUsersPath);
      run.PerUserPass(userPath);
    } catch (const std::exception& error) {
      log.Error(kExceptionPrefix, error.what());
    }
  } catch (const std::exception& error) {
    log.Error(kExceptionPrefix, error.what());
  }
}

}  // namespace lw
