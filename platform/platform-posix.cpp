// The Linux stand-ins for the Windows services. Paths from the core have '\' turned
// into '/' here; paths handed back use '\' again. The registry lives in registry-posix.h.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/embedded_resources.h"
#include "platform/registry-posix.h"
#include "platform/system_platform.h"
#include "platform/util-posix.h"

namespace lw {
namespace {

using posix::AsciiUpper;
using posix::CorePath;
using posix::CreateUnique;
using posix::EqualIgnoringCase;
using posix::FolderOf;
using posix::MakeDirectories;
using posix::NativePath;
using posix::PosixRegistry;
using posix::UniqueFd;
using posix::WriteAll;

// Temporary files: ".~lw" and eight random characters, no longer than "rasphone.pbk".
constexpr char kTempPrefix[] = ".~lw";
constexpr std::size_t kTempNameSize = 12;

// The process umask, read without changing it where /proc tells it.
mode_t CurrentUmask() {
  const UniqueFd status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  if (status) {
    std::string text(4096, '\0');
    const ssize_t got = ::read(status.get(), text.data(), text.size());
    const std::size_t at = got > 0 ? text.find("\nUmask:") : std::string::npos;
    if (at != std::string::npos && at < static_cast<std::size_t>(got)) {
      return static_cast<mode_t>(std::strtoul(text.c_str() + at + 7, nullptr, 8));
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

class PosixPlatform final : public Platform {
 public:
  PosixPlatform(int argc, char** argv) {
    for (int i = 1; i < argc && argv[i] != nullptr && argv[i][0] != '\0'; ++i) {
      arguments_.emplace_back(argv[i]);
    }
  }

  std::string ExecutablePath() override {
    std::string path(256, '\0');
    for (;;) {
      const ssize_t size = ::readlink("/proc/self/exe", path.data(), path.size());
      if (size < 0) return {};
      if (static_cast<std::size_t>(size) < path.size()) {
        path.resize(static_cast<std::size_t>(size));
        return CorePath(std::move(path));
      }
      path.resize(path.size() * 2);
    }
  }

  std::vector<std::string> Arguments() override { return arguments_; }

  void WriteLine(std::string_view line) override {
    std::string text(line);
    text += "\r\n";
    WriteAll(STDOUT_FILENO, text);
  }

  void WriteError(std::string_view text) override { WriteAll(STDERR_FILENO, text); }

  std::string ReadLine() override {
    std::string line;
    char c;
    for (;;) {
      const ssize_t got = ::read(STDIN_FILENO, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || c == '\n') break;
      line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  void Sleep(std::uint32_t milliseconds) override {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  std::uintptr_t ModuleBase() override {
    // Any object of this executable will do: the platform is linked into it statically.
    static const char anchor = 0;
    Dl_info info{};
    if (::dladdr(&anchor, &info) == 0) return 0;
    return reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  }

  OsVersion GetVersion() override {
    utsname name{};
    if (::uname(&name) != 0) return {};
    char* end = nullptr;
    OsVersion version;
    version.major = static_cast<std::uint32_t>(std::strtoul(name.release, &end, 10));
    if (*end == '.') version.minor = static_cast<std::uint32_t>(std::strtoul(end + 1, nullptr, 10));
    return version;
  }

  bool AllocateAdminsSid(SidHandle& sid) override {
    sid = 1;  // nothing to allocate: membership is the effective uid
    return true;
  }

  bool CheckTokenMembership(SidHandle sid, bool& member) override {
    if (sid == 0) return false;
    member = ::geteuid() == 0;
    return true;
  }

  void FreeSid(SidHandle) override {}

  RegStatus CreateKey(RegKey base, std::string_view subKey, std::uint32_t access,
                      RegKey& key) override {
    return registry_.CreateKey(base, subKey, access, key);
  }

  RegStatus OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                    RegKey& key) override {
    return registry_.OpenKey(base, subKey, access, key);
  }

  RegStatus SetValue(RegKey key, std::string_view name, std::uint32_t type,
                     std::string_view data) override {
    return registry_.SetValue(key, name, type, data);
  }

  RegStatus CloseKey(RegKey key) override { return registry_.CloseKey(key); }

  RegStatus ConnectRegistry(std::string_view machine, RegKey root, RegKey& key) override {
    return registry_.ConnectRegistry(machine, root, key);
  }

  SysError GetEnv(std::string_view name, std::string& value) override {
    const char* text = std::getenv(std::string(name).c_str());
    value = text == nullptr ? std::string() : std::string(text);
    return 0;
  }

  void TrustFolder(std::string_view) override {}

  void CreateDirectories(std::string_view path) override { MakeDirectories(NativePath(path)); }

  SysError LockFile(std::string_view path, std::uint32_t timeoutMs, LockHandle& lock) override {
    lock = kNoLock;
    const std::string folder = NativePath(FolderOf(path));
    UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return errno == ENOENT ? 0 : static_cast<SysError>(errno);
    // Polled, so that the wait has a bound; the hold ends with the descriptor.
    for (std::uint32_t waited = 0;; waited += 50) {
      if (::flock(dir.get(), LOCK_EX | LOCK_NB) == 0) break;
      if (errno != EWOULDBLOCK && errno != EINTR) return static_cast<SysError>(errno);
      if (waited >= timeoutMs) return kErrorLockTimeout;
      Sleep(50);
    }
    lock = dir.release();
    return 0;
  }

  void UnlockFile(LockHandle lock) override {
    if (lock != kNoLock) ::close(static_cast<int>(lock));
  }

  SysError OpenForRead(std::string_view path, FileHandle& file) override {
    file = kInvalidFile;
    UniqueFd fd(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!fd) return errno == ENOENT ? 0 : static_cast<SysError>(errno);
    struct stat info;
    if (::fstat(fd.get(), &info) != 0) return static_cast<SysError>(errno);
    // Windows opens no directory as a file; the phonebook is then simply not there.
    if (S_ISDIR(info.st_mode)) return 0;
    if (!S_ISREG(info.st_mode)) return kErrorNotRegularFile;
    file = fd.release();
    return 0;
  }

  SysError GetFileSize(FileHandle file, std::uint64_t& size) override {
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0) return static_cast<SysError>(errno);
    size = static_cast<std::uint64_t>(info.st_size);
    return 0;
  }

  SysError ReadFile(FileHandle file, char* buffer, std::size_t size, std::size_t& done) override {
    ssize_t got;
    do {
      got = ::read(static_cast<int>(file), buffer, size);
    } while (got < 0 && errno == EINTR);
    done = got < 0 ? 0 : static_cast<std::size_t>(got);
    return got < 0 ? static_cast<SysError>(errno) : 0;
  }

  SysError CreateTempBeside(std::string_view target, FileHandle& file,
                            std::string& tempPath) override {
    if (target.empty()) return ENOENT;
    const std::string_view folder = FolderOf(target);
    // Hidden, and no longer than the phonebook's own name; 0600 until it is put in place.
    std::string native;
    const int fd = CreateUnique(NativePath(folder) + kTempPrefix, 0600, native,
                                kTempNameSize - (sizeof kTempPrefix - 1));
    if (fd == -1) return static_cast<SysError>(errno);
    tempPath = std::string(folder) + native.substr(native.size() - kTempNameSize);
    file = fd;
    return 0;
  }

  SysError WriteFile(FileHandle file, std::string_view data, std::size_t& done) override {
    ssize_t written;
    do {
      written = ::write(static_cast<int>(file), data.data(), data.size());
    } while (written < 0 && errno == EINTR);
    done = written < 0 ? 0 : static_cast<std::size_t>(written);
    return written < 0 ? static_cast<SysError>(errno) : 0;
  }

  SysError FlushFile(FileHandle file) override {
    return ::fsync(static_cast<int>(file)) == 0 ? 0 : static_cast<SysError>(errno);
  }

  void CloseFile(FileHandle file) override {
    if (file != kInvalidFile) ::close(static_cast<int>(file));
  }

  SysError ReplaceWith(FileHandle temp, std::string_view tempPath,
                       std::string_view target) override {
    const UniqueFd file(static_cast<int>(temp));
    const std::string from = NativePath(tempPath);
    const std::string to = NativePath(target);
    if (const SysError error = TakeOverPermissions(file.get(), to)) return error;
    if (::rename(from.c_str(), to.c_str()) != 0) return static_cast<SysError>(errno);
    // The rename itself is durable only once the folder is on disk too.
    const std::string folder = NativePath(FolderOf(target));
    const UniqueFd dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
    return 0;
  }

  SysError RemoveFile(std::string_view path) override {
    return ::unlink(NativePath(path).c_str()) == 0 ? 0 : static_cast<SysError>(errno);
  }

  void RemoveStaleTemps(std::string_view) override {}

  std::string FullPathName(std::string_view path) override {
    if (path.empty()) return {};
    std::string native = NativePath(path);
    if (native[0] != '/') {
      std::string cwd(256, '\0');
      while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE) return {};
        cwd.resize(cwd.size() * 2);
      }
      native = std::string(cwd.c_str()) + "/" + native;
    }
    // Lexical, like GetFullPathNameA: no symbolic link is followed.
    std::vector<std::string_view> parts;
    std::string_view rest = native;
    while (!rest.empty()) {
      const std::size_t slash = rest.find('/');
      const std::string_view part = rest.substr(0, slash);
      rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
        continue;
      }
      parts.push_back(part);
    }
    std::string full;
    for (const std::string_view part : parts) full.append("\\").append(part);
    if (full.empty() || native.back() == '/') full += '\\';
    return full;
  }

  std::string SystemErrorText(SysError error) override {
    return std::strerror(static_cast<int>(error));
  }

  void UpperCase(char* bytes, std::size_t size) override {
    std::transform(bytes, bytes + size, bytes, AsciiUpper);
  }

  bool FindResourceData(std::string_view name, std::uint32_t type,
                        std::string_view& data) override {
    for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i) {
      const EmbeddedResource& resource = kEmbeddedResources[i];
      if (resource.name != nullptr && resource.type == type &&
          EqualIgnoringCase(resource.name, name)) {
        data = std::string_view(resource.data, resource.size);
        return true;
      }
    }
    return false;
  }

 private:
  // Gives the open `temp` the permissions (and, where allowed, the owner) of `target`, or
  // those a plain create would give when there is no target.
  static SysError TakeOverPermissions(int temp, const std::string& target) {
    struct stat info;
    mode_t mode;
    if (::lstat(target.c_str(), &info) == 0) {
      if (!S_ISREG(info.st_mode)) return kErrorNotRegularFile;
      // Replacing what the process could not write to would undo the file's protection.
      const UniqueFd writable(
          ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      if (!writable) return static_cast<SysError>(errno);
      if (::fstat(writable.get(), &info) != 0) return static_cast<SysError>(errno);
      if (::fchown(temp, info.st_uid, info.st_gid) != 0) {
        if (errno != EPERM) return static_cast<SysError>(errno);
        // The group alone may still be allowed.
        [[maybe_unused]] const int ignored = ::fchown(temp, static_cast<uid_t>(-1), info.st_gid);
      }
      // Never set-id or sticky bits: the text is the tool's, not an executable's.
      mode = info.st_mode & 0777;
    } else if (errno == ENOENT) {
      mode = 0666 & ~CurrentUmask();
    } else {
      return static_cast<SysError>(errno);
    }
    return ::fchmod(temp, mode) == 0 ? 0 : static_cast<SysError>(errno);
  }

  std::vector<std::string> arguments_;
  PosixRegistry registry_;
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform(int argc, char** argv) {
  return std::make_unique<PosixPlatform>(argc, argv);
}

}  // namespace lw