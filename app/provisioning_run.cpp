#include "app/provisioning_run.h"

#include <exception>
#include <optional>
#include <string>

#include "app/pauses.h"
#include "ini/mem_ini_file.h"
#include "ini/text_file.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "provisioning/pass.h"
#include "provisioning/probe.h"
#include "provisioning/template.h"
#include "support/exception.h"
#include "support/os_version.h"

namespace lw {
namespace {

// How often a cycle reads and works again when another program saved the phonebook meanwhile.
constexpr int kCycleTries = 4;

GatewayOverride GatewayOf(const RunFlags& flags) {
  return {flags.ForceLocalGateway, flags.ForceRemoteGateway};
}

// A phonebook below the folder an environment variable names, worked out where it is
// first needed, so that a missing folder is reported by the region that needs it.
class PhonebookPath {
 public:
  PhonebookPath(Platform& platform, std::string_view variable)
      : platform_(platform), variable_(variable) {}

  const std::string& Get() {
    if (path_) return *path_;
    std::string folder;
    const SysError error = platform_.GetEnv(variable_, folder);
    if (error == kErrorNotInCodePage) {
      throw Exception("The folder in " + variable_ + " cannot be named in this system's code page");
    }
    // Without the variable the path would start at the root of the current drive, where
    // no phonebook is ever read.
    if (folder.empty()) throw Exception("The environment variable " + variable_ + " is not set");
    // A relative folder, or one on the current drive, would put the phonebook where the
    // run happens to start.
    if (!platform_.IsFullPath(folder)) {
      throw Exception("The folder in " + variable_ + " is not a full path");
    }
    platform_.TrustFolder(folder);
    path_ = folder + std::string(kPhonebookSuffix);
    return *path_;
  }

 private:
  Platform& platform_;
  std::string variable_;
  std::optional<std::string> path_;
};

class Run {
 public:
  Run(Platform& platform, RunFlags& flags, Log& log, const TMemIniFile& templ)
      : platform_(platform), flags_(flags), log_(log), templ_(templ) {}

  // Asks the existing phonebooks whether a creatable entry is already there.
  void PreCheck() {
    const std::string& userPath = user_.Get();
    log_.Line("* reading: " + userPath);
    Cycle(userPath, false, [this](TMemIniFile& phonebook) {
      PreCheckUserPhonebook(log_, templ_, phonebook, flags_);
    });
    if (flags_.CreateEnabled && flags_.IsAdministrator && flags_.AllUsers) {
      const std::string& allUsersPath = allUsers_.Get();
      log_.Line("* reading: " + allUsersPath);
      Cycle(allUsersPath, false, [this](TMemIniFile& phonebook) {
        if (ProbeExistingEntries(log_, templ_, phonebook)) flags_.CreateEnabled = false;
      });
    }
  }

  void AllUsersPass() {
    const std::string& path = allUsers_.Get();
    if (flags_.CreateEnabled) platform_.CreateDirectories(ParentFolder(path, platform_));
    const bool done = Cycle(path, flags_.CreateEnabled, [this](TMemIniFile& phonebook) {
      if (CreatesForAllUsers() && ProbeExistingEntries(log_, templ_, phonebook)) {
        flags_.CreateEnabled = false;
      }
      ProcessPhonebook(log_, templ_, phonebook, CreatesForAllUsers(), Gateway());
    });
    if (done) platform_.Sleep(kPhonebookPauseMs);
    if (flags_.AllUsers) flags_.CreateEnabled = false;
  }

  void PerUserPass() {
    const std::string& path = user_.Get();
    platform_.CreateDirectories(ParentFolder(path, platform_));
    const bool done = Cycle(path, flags_.CreateEnabled, [this](TMemIniFile& phonebook) {
      PassUserPhonebook(log_, templ_, phonebook, flags_);
    });
    if (done) platform_.Sleep(kPhonebookPauseMs);
  }

 private:
  // One open-work-write cycle of the phonebook at `path`, holding other runs off it
  // throughout. A phonebook that is not there is left alone unless `evenIfMissing`.
  // Another program's save meanwhile is never overwritten: the cycle starts again from
  // reading, a few times. Whether the cycle ran.
  template <typename Work>
  bool Cycle(const std::string& path, bool evenIfMissing, Work&& work) {
    const RunFlags before = flags_;
    for (int attempt = 1;; ++attempt) {
      const FileLock lock(platform_, path);
      TMemIniFile phonebook(platform_, path);
      if (!phonebook.Loaded() && !evenIfMissing) return false;
      work(phonebook);
      if (phonebook.TrySaveFile()) return true;
      if (attempt == kCycleTries) RaiseCreateError(platform_, path, kErrorFileChanged);
      flags_ = before;
    }
  }

  bool CreatesForAllUsers() const {
    return flags_.CreateEnabled && flags_.IsAdministrator && flags_.AllUsers;
  }
  GatewayOverride Gateway() const { return GatewayOf(flags_); }

  Platform& platform_;
  RunFlags& flags_;
  Log& log_;
  const TMemIniFile& templ_;
  PhonebookPath user_{platform_, "APPDATA"};
  PhonebookPath allUsers_{platform_, "ProgramData"};
};

}  // namespace

void PreCheckUserPhonebook(Log& log, const TMemIniFile& templ, const TMemIniFile& phonebook,
                           RunFlags& flags) {
  if (ProbeExistingEntries(log, templ, phonebook)) {
    flags.CreateEnabled = false;
    flags.AllUsers = false;
  }
}

void PassUserPhonebook(Log& log, const TMemIniFile& templ, TMemIniFile& phonebook,
                       RunFlags& flags) {
  if (flags.CreateEnabled && !flags.AllUsers && ProbeExistingEntries(log, templ, phonebook)) {
    flags.CreateEnabled = false;
  }
  ProcessPhonebook(log, templ, phonebook, flags.CreateEnabled && !flags.AllUsers, GatewayOf(flags));
}

void RunProvisioning(Platform& platform, RunFlags& flags, Log& log) {
  try {
    log.Line("* OS version: " + std::to_string(GetOSVersionNumber(platform)));
    TMemIniFile templ(platform, "");
    LoadTemplate(platform, templ);
    Run run(platform, flags, log, templ);
    if (flags.CreateEnabled) run.PreCheck();
    log.Line("* processing *.pbk");
    if (flags.IsAdministrator) run.AllUsersPass();
    run.PerUserPass();
  } catch (const std::exception& error) {
    log.Error(kExceptionPrefix, error.what());
  }
}

}  // namespace lw
