// What only the POSIX platform does, and what the shared suite needs of it.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/platform_test.h"

namespace lw::platform_test {

const SysError kFileNotFound = ENOENT;
const SysError kPathNotFound = ENOENT;
const char kExecutableName[] = "linkwright_tests";

void SetEnv(const std::string& name, const char* value) {
  if (value == nullptr) {
    ::unsetenv(name.c_str());
  } else {
    ::setenv(name.c_str(), value, 1);
  }
}

std::optional<bool> ExpectedAdministrator() {
  return ::geteuid() == 0;
}

struct StdStream::Saved {
  int which;
  int saved;
};

StdStream::StdStream(Which which, const fs::path& file) {
  const int id = which == kIn ? 0 : which == kOut ? 1 : 2;
  std::fflush(nullptr);
  saved_ = std::make_unique<Saved>(Saved{id, ::dup(id)});
  const int fd = ::open(file.c_str(), which == kIn ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, id);
  ::close(fd);
}

StdStream::~StdStream() {
  ::dup2(saved_->saved, saved_->which);
  ::close(saved_->saved);
}

namespace {

using ::testing::StartsWith;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

TEST_F(PlatformSaveTest, TempFileIsHiddenAndPrivate) {
  std::string temp;
  FileHandle file = kInvalidFile;
  ASSERT_EQ(platform_->CreateTempBeside(dir_.CorePath("rasphone.pbk"), file, temp), 0u);
  platform_->CloseFile(file);
  const std::string name = temp.substr(dir_.CorePath().size() + 1);
  EXPECT_THAT(name, StartsWith("."));
  EXPECT_EQ(ModeOf(dir_.Native(name)), 0600u);
}

TEST_F(PlatformSaveTest, ReplaceKeepsModeAndOwnerOfTarget) {
  dir_.Write("rasphone.pbk", "old");
  const std::string target = dir_.CorePath("rasphone.pbk");
  ASSERT_EQ(::chmod(dir_.Native("rasphone.pbk").c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(dir_.Native("rasphone.pbk").c_str(), 65534, 65534), 0);
  }
  const Temp temp = WriteTemp(target, "new");
  ASSERT_EQ(Replace(temp, target), 0u);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "new");
  EXPECT_EQ(ModeOf(dir_.Native("rasphone.pbk")), 0640u);
  if (root) {
    struct stat info {};
    ASSERT_EQ(::stat(dir_.Native("rasphone.pbk").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
  }
}

TEST_F(PlatformSaveTest, NewTargetGetsTheModeOfAPlainCreate) {
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}}) {
    const mode_t old = ::umask(mask);
    const std::string target = dir_.CorePath("new.pbk");
    const Temp temp = WriteTemp(target, "x");
    EXPECT_EQ(Replace(temp, target), 0u);
    ::umask(old);
    EXPECT_EQ(ModeOf(dir_.Native("new.pbk")), 0666u & ~mask) << std::oct << mask;
    fs::remove(dir_.Native("new.pbk"));
  }
}

}  // namespace

std::optional<StoredValue> StoredValueOf(const TempDir& dir, const std::string& keyPath,
                                         const std::string& name) {
  std::string relative = keyPath;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  const fs::path key = dir.Native() / "Registry" / "HKEY_CURRENT_USER" / relative;
  if (!fs::exists(key / name)) return std::nullopt;
  return StoredValue{static_cast<std::uint32_t>(std::stoul(Contents(key / ".types" / name))),
                     Contents(key / name)};
}

void RemoveTestKey(const std::string&) {}  // the registry lives in the test folder

namespace {

// Runs `body` in a child process without root's powers (as nobody when the tests run as
// root) and gives its exit status.
int RunUnprivileged(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(255);
    }
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(PlatformRegistryTest, MachineValueLayout) {
  RegKey key = 0;
  ASSERT_EQ(platform_->CreateKey(kLocalMachine,
                                 "System\\CurrentControlSet\\Services\\Sstpsvc\\Parameters",
                                 kKeyAllAccess, key),
            0);
  ASSERT_EQ(platform_->SetValue(key, "NoCertRevocationCheck", kRegDword,
                                std::string("\x01\x00\x00\x00", 4)),
            0);
  EXPECT_EQ(platform_->CloseKey(key), 0);
  const std::string dir =
      "Registry/HKEY_LOCAL_MACHINE/System/CurrentControlSet/Services/Sstpsvc/Parameters/";
  EXPECT_EQ(dir_.Read(dir + "NoCertRevocationCheck"), std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(dir_.Read(dir + ".types/NoCertRevocationCheck"), "4\n");
  std::set<std::string> entries;
  for (const auto& entry : fs::directory_iterator(dir_.Native(dir))) {
    entries.insert(entry.path().filename().string());
  }
  EXPECT_EQ(entries, (std::set<std::string>{"NoCertRevocationCheck", ".types"}));
}

TEST_F(PlatformRegistryTest, NamesThatCannotBeFiles) {
  RegKey key = 0;
  for (const char* path : {"\\Software", "Software\\..\\x", "Software\\.", "a\\.types"}) {
    EXPECT_EQ(platform_->CreateKey(kCurrentUser, path, kKeyAllAccess, key), 161) << path;
  }
  ASSERT_EQ(platform_->CreateKey(kCurrentUser, testKey_, kKeyAllAccess, key), 0);
  for (const char* name : {"", "..", "a/b", ".TYPES"}) {
    EXPECT_EQ(platform_->SetValue(key, name, kRegDword, std::string(4, '\0')), 87) << name;
  }
  EXPECT_EQ(platform_->CloseKey(key), 0);
}

TEST_F(PlatformRegistryTest, NoProgramDataNoRegistry) {
  SetEnv("ProgramData", nullptr);
  const auto platform = CreateSystemPlatform(1, argv_);
  RegKey key = 0;
  EXPECT_NE(platform->CreateKey(kLocalMachine, "System", kKeyAllAccess, key), 0);
  EXPECT_FALSE(fs::exists("/Registry"));
}

TEST_F(PlatformRegistryTest, AccessFollowsTheKeyDirectoryPermissions) {
  RegKey key = 0;
  ASSERT_EQ(platform_->CreateKey(kLocalMachine, "System\\Locked", kKeyAllAccess, key), 0);
  EXPECT_EQ(platform_->CloseKey(key), 0);
  const fs::path locked = dir_.Native() / "Registry" / "HKEY_LOCAL_MACHINE" / "System" / "Locked";
  fs::permissions(dir_.Native(), fs::perms(0755));
  fs::permissions(locked, fs::perms(0555));

  const auto open = [this](std::uint32_t access) {
    return RunUnprivileged([&] {
      const auto platform = CreateSystemPlatform(1, argv_);
      RegKey opened = 0;
      return static_cast<int>(platform->OpenKey(kLocalMachine, "System\\Locked", access, opened));
    });
  };
  const auto create = [this](const char* path) {
    return RunUnprivileged([&] {
      const auto platform = CreateSystemPlatform(1, argv_);
      RegKey created = 0;
      return static_cast<int>(platform->CreateKey(kLocalMachine, path, kKeyAllAccess, created));
    });
  };
  EXPECT_EQ(open(kKeyAllAccess), kRegAccessDenied);
  EXPECT_EQ(open(kKeyRead), 0);
  EXPECT_EQ(create("System\\Locked"), kRegAccessDenied);
  EXPECT_EQ(create("System\\Locked\\Sub"), kRegAccessDenied);
  EXPECT_FALSE(fs::exists(locked / "Sub"));
  EXPECT_EQ(RunUnprivileged([this] {
              const auto platform = CreateSystemPlatform(1, argv_);
              SidHandle sid = 0;
              bool member = true;
              return platform->AllocateAdminsSid(sid) &&
                             platform->CheckTokenMembership(sid, member) && !member
                         ? 0
                         : 1;
            }),
            0);
  fs::permissions(locked, fs::perms(0755));
}

TEST(PlatformArgumentsTest, ArgvEndsAtTheFirstEmptyArgument) {
  const struct {
    std::vector<std::string> argv;
    std::vector<std::string> arguments;
  } cases[] = {
      {{"vpnsetup"}, {}},
      {{"vpnsetup", "/r", "/u"}, {"/r", "/u"}},
      {{"vpnsetup", "/r", "", "/u"}, {"/r"}},
      {{"vpnsetup", "", "/u"}, {}},
      {{"vpnsetup", "a b", "\"q\""}, {"a b", "\"q\""}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> storage = c.argv;
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto platform = CreateSystemPlatform(static_cast<int>(storage.size()), argv.data());
    EXPECT_EQ(platform->Arguments(), c.arguments);
  }
}

}  // namespace
}  // namespace lw::platform_test
