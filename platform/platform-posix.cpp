// The Linux stand-ins for the Windows services. Paths from the core have '\' turned
// into '/' here; paths handed back use '\' again.
//
// Registry: a directory tree below $ProgramData/Registry/HKEY_LOCAL_MACHINE (and
// HKEY_CURRENT_USER beside it), read when the platform is created. A key is a
// directory; a value is a file of the key's directory named after the value and holding
// exactly its data bytes (a REG_DWORD is four little-endian bytes); its registry type is
// the decimal number and a line feed in a file of the same name in the key's ".types"
// directory. Values are written beside their place and renamed into it. Names are
// matched ignoring ASCII case, as Windows does. Names that cannot be file names (empty
// value name, ".", "..", ".types", '/', NUL) are refused, and a value cannot share its
// name with a sub-key. Full (write) access needs the key's directory writable by the
// process, read access needs it readable; errors are Windows codes.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/embedded_resources.h"
#include "platform/system_platform.h"

namespace lw {
namespace {

// Windows error codes of the registry stand-in.
constexpr RegStatus kErrorFileNotFound = 2;
constexpr RegStatus kErrorPathNotFound = 3;
constexpr RegStatus kErrorAccessDenied = 5;
constexpr RegStatus kErrorInvalidHandle = 6;
constexpr RegStatus kErrorBadNetPath = 53;
constexpr RegStatus kErrorInvalidParameter = 87;
constexpr RegStatus kErrorDiskFull = 112;
constexpr RegStatus kErrorBadPathname = 161;
constexpr RegStatus kErrorRegistryIoFailed = 1016;

constexpr RegKey kHkeyCurrentUser = 0x80000001;
constexpr RegKey kHkeyLocalMachine = 0x80000002;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
// Query, enumerate, notify, READ_CONTROL, GENERIC_READ, GENERIC_ALL.
constexpr std::uint32_t kReadRights = 0x0001 | 0x0008 | 0x0010 | 0x20000 | 0x80000000 | 0x10000000;
// Set value, create sub-key, create link, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_WRITE,
// GENERIC_ALL.
constexpr std::uint32_t kWriteRights =
    0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000 | 0x40000000 | 0x10000000;
constexpr char kTypesDir[] = ".types";

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() noexcept {
    if (fd_ != -1) ::close(fd_);
  }
  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ != -1; }

 private:
  int fd_;
};

class UniqueDir {
 public:
  explicit UniqueDir(DIR* dir) noexcept : dir_(dir) {}
  UniqueDir(const UniqueDir&) = delete;
  UniqueDir& operator=(const UniqueDir&) = delete;
  ~UniqueDir() noexcept {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DIR* get() const noexcept { return dir_; }

 private:
  DIR* dir_;
};

std::string NativePath(std::string_view path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

std::string CorePath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiUpper(x) == AsciiUpper(y);
         });
}

// The folder part of a path, separator included; empty for a bare name.
std::string_view FolderOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

// Writes all of `data`, going on after partial writes and interruptions.
void WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t done = ::write(fd, data.data(), data.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    data.remove_prefix(static_cast<std::size_t>(done));
  }
}

bool FillRandom(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::getrandom(bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// Twelve random characters from a 64-letter alphabet: 72 bits nobody can guess.
bool RandomName(std::string& text) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  unsigned char bytes[12];
  if (!FillRandom(bytes, sizeof bytes)) return false;
  text.clear();
  for (const unsigned char b : bytes) text += kAlphabet[b & 63];
  return true;
}

// Creates a new file exclusively under `prefix` + random text; -1 with errno on failure.
int CreateUnique(const std::string& prefix, mode_t mode, std::string& path) {
  std::string random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (!RandomName(random)) return -1;
    path = prefix + random;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd != -1 || errno != EEXIST) return fd;
  }
  return -1;
}

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

// mkdir -p; failures are left to the caller's next step.
void MakeDirectories(const std::string& native) {
  for (std::size_t pos = 1; pos <= native.size(); ++pos) {
    if (pos == native.size() || native[pos] == '/') ::mkdir(native.substr(0, pos).c_str(), 0777);
  }
}

RegStatus RegistryError(int error) {
  switch (error) {
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EEXIST:
      return kErrorAccessDenied;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    default:
      return kErrorRegistryIoFailed;
  }
}

// A key or value name that can stand as a file name of its own.
bool IsStorableName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && !EqualIgnoringCase(name, kTypesDir) &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// The entry of `dir` called `name` ignoring ASCII case (an exact match first); empty when
// there is none.
std::string FindEntry(const std::string& dir, std::string_view name) {
  struct stat info;
  if (::lstat((dir + "/").append(name).c_str(), &info) == 0) return std::string(name);
  const UniqueDir listing(::opendir(dir.c_str()));
  if (listing.get() == nullptr) return {};
  while (const dirent* entry = ::readdir(listing.get())) {
    if (EqualIgnoringCase(entry->d_name, name)) return entry->d_name;
  }
  return {};
}

// Replaces `dir`/`name` by a file holding `bytes`, written beside it under a random name
// in `scratch` and renamed into place, so a reader never sees half a value.
RegStatus StoreFile(const std::string& dir, const std::string& name, const std::string& scratch,
                    std::string_view bytes) {
  std::string temp;
  const UniqueFd file(CreateUnique(scratch + "/.~", 0666, temp));
  if (!file) return RegistryError(errno);
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const ssize_t done = ::write(file.get(), rest.data(), rest.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      const RegStatus status = RegistryError(done < 0 ? errno : ENOSPC);
      ::unlink(temp.c_str());
      return status;
    }
    rest.remove_prefix(static_cast<std::size_t>(done));
  }
  if (::rename(temp.c_str(), (dir + "/" + name).c_str()) != 0) {
    const RegStatus status = RegistryError(errno);
    ::unlink(temp.c_str());
    return status;
  }
  return 0;
}

class PosixPlatform final : public Platform {
 public:
  PosixPlatform(int argc, char** argv) {
    for (int i = 1; i < argc && argv[i] != nullptr && argv[i][0] != '\0'; ++i) {
      arguments_.emplace_back(argv[i]);
    }
    const char* programData = std::getenv("ProgramData");
    if (programData != nullptr && programData[0] != '\0') {
      registryRoot_ = NativePath(programData) + "/Registry";
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
    return OpenOrCreate(base, subKey, access, true, key);
  }

  RegStatus OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                    RegKey& key) override {
    return OpenOrCreate(base, subKey, access, false, key);
  }

  RegStatus SetValue(RegKey key, std::string_view name, std::uint32_t type,
                     std::string_view data) override {
    std::string dir;
    std::uint32_t access = 0;
    const RegStatus status = KeyDirectory(key, dir, access);
    if (status != 0) return status;
    if ((access & kKeySetValue) == 0) return kErrorAccessDenied;
    if (!IsStorableName(name)) return kErrorInvalidParameter;
    std::string stored = FindEntry(dir, name);
    if (stored.empty()) stored = name;
    const std::string types = dir + "/" + kTypesDir;
    if (::mkdir(types.c_str(), 0777) != 0 && errno != EEXIST) return RegistryError(errno);
    if (const RegStatus typeStatus = StoreFile(types, stored, types, std::to_string(type) + "\n");
        typeStatus != 0) {
      return typeStatus;
    }
    return StoreFile(dir, stored, types, data);
  }

  RegStatus CloseKey(RegKey key) override {
    if (key == kHkeyCurrentUser || key == kHkeyLocalMachine) return 0;
    return keys_.erase(key) != 0 ? 0 : kErrorInvalidHandle;
  }

  RegStatus ConnectRegistry(std::string_view, RegKey, RegKey&) override {
    return kErrorBadNetPath;  // no remote registries here
  }

  std::string GetEnv(std::string_view name) override {
    const char* value = std::getenv(std::string(name).c_str());
    return value == nullptr ? std::string() : std::string(value);
  }

  void CreateDirectories(std::string_view path) override { MakeDirectories(NativePath(path)); }

  bool FileExists(std::string_view path) override {
    struct stat info;
    return ::stat(NativePath(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
  }

  FileHandle OpenForRead(std::string_view path, SysError& error) override {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd == -1) {
      error = static_cast<SysError>(errno);
      return kInvalidFile;
    }
    // Windows opens no directory as a file.
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
      ::close(fd);
      error = EISDIR;
      return kInvalidFile;
    }
    return fd;
  }

  bool GetFileSize(FileHandle file, std::uint64_t& size, SysError& error) override {
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0) {
      error = static_cast<SysError>(errno);
      return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
  }

  bool ReadFile(FileHandle file, char* buffer, std::size_t size, std::size_t& done,
                SysError& error) override {
    ssize_t got;
    do {
      got = ::read(static_cast<int>(file), buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      error = static_cast<SysError>(errno);
      done = 0;
      return false;
    }
    done = static_cast<std::size_t>(got);
    return true;
  }

  FileHandle CreateTempBeside(std::string_view target, std::string& tempPath,
                              SysError& error) override {
    if (target.empty()) {
      error = ENOENT;
      return kInvalidFile;
    }
    const std::string_view folder = FolderOf(target);
    // Hidden, named after the target (cut to stay within NAME_MAX), 0600 until replaced.
    std::string prefix(".");
    prefix.append(target.substr(folder.size(), 200)).append(".");
    std::string native;
    const int fd = CreateUnique(NativePath(folder) + prefix, 0600, native);
    if (fd == -1) {
      error = static_cast<SysError>(errno);
      return kInvalidFile;
    }
    tempPath = std::string(folder) + native.substr(native.size() - prefix.size() - 12);
    return fd;
  }

  bool WriteFile(FileHandle file, std::string_view data, std::size_t& done,
                 SysError& error) override {
    ssize_t written;
    do {
      written = ::write(static_cast<int>(file), data.data(), data.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
      error = static_cast<SysError>(errno);
      done = 0;
      return false;
    }
    done = static_cast<std::size_t>(written);
    return true;
  }

  bool FlushFile(FileHandle file, SysError& error) override {
    if (::fsync(static_cast<int>(file)) == 0) return true;
    error = static_cast<SysError>(errno);
    return false;
  }

  void CloseFile(FileHandle file) override {
    if (file != kInvalidFile) ::close(static_cast<int>(file));
  }

  bool ReplaceWith(std::string_view temp, std::string_view target, SysError& error) override {
    const std::string from = NativePath(temp);
    const std::string to = NativePath(target);
    if (!TakeOverPermissions(from, to, error)) return false;
    if (::rename(from.c_str(), to.c_str()) != 0) {
      error = static_cast<SysError>(errno);
      return false;
    }
    // The rename itself is durable only once the folder is on disk too.
    const std::string folder = NativePath(FolderOf(target));
    const UniqueFd dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
    return true;
  }

  void RemoveFile(std::string_view path) override { ::unlink(NativePath(path).c_str()); }

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
  struct OpenedKey {
    std::string dir;
    std::uint32_t access = 0;
  };

  // The directory and granted access of an open key or predefined root.
  RegStatus KeyDirectory(RegKey key, std::string& dir, std::uint32_t& access) const {
    if (key == kHkeyCurrentUser || key == kHkeyLocalMachine) {
      if (registryRoot_.empty()) return kErrorPathNotFound;
      dir =
          registryRoot_ + (key == kHkeyLocalMachine ? "/HKEY_LOCAL_MACHINE" : "/HKEY_CURRENT_USER");
      access = kKeyAllAccess;
      return 0;
    }
    const auto it = keys_.find(key);
    if (it == keys_.end()) return kErrorInvalidHandle;
    dir = it->second.dir;
    access = it->second.access;
    return 0;
  }

  RegStatus OpenOrCreate(RegKey base, std::string_view subKey, std::uint32_t access, bool create,
                         RegKey& key) {
    std::string dir;
    std::uint32_t baseAccess = 0;
    if (const RegStatus status = KeyDirectory(base, dir, baseAccess); status != 0) return status;
    if (!subKey.empty() && subKey.front() == '\\') return kErrorBadPathname;
    if (create && (base == kHkeyCurrentUser || base == kHkeyLocalMachine)) {
      MakeDirectories(dir);  // the hives always exist on Windows
    }
    while (!subKey.empty()) {
      const std::size_t slash = subKey.find('\\');
      const std::string_view part = subKey.substr(0, slash);
      subKey = slash == std::string_view::npos ? std::string_view() : subKey.substr(slash + 1);
      if (part.empty()) continue;
      if (!IsStorableName(part)) return kErrorBadPathname;
      std::string found = FindEntry(dir, part);
      if (found.empty()) {
        if (!create) return kErrorFileNotFound;
        if (::mkdir((dir + "/").append(part).c_str(), 0777) != 0) return RegistryError(errno);
        found = part;
      }
      dir += "/" + found;
    }
    struct stat info;
    if (::stat(dir.c_str(), &info) != 0) return RegistryError(errno);
    if (!S_ISDIR(info.st_mode)) return create ? kErrorAccessDenied : kErrorFileNotFound;
    int mode = 0;
    if ((access & kReadRights) != 0) mode |= R_OK;
    if ((access & kWriteRights) != 0) mode |= W_OK;
    if (mode != 0 && ::faccessat(AT_FDCWD, dir.c_str(), mode, AT_EACCESS) != 0) {
      return errno == ENOENT ? kErrorFileNotFound : kErrorAccessDenied;
    }
    key = nextKey_++;
    keys_[key] = {dir, access};
    return 0;
  }

  // Gives `temp` the permissions (and, where allowed, the owner) of `target`, or those a
  // plain create would give when there is no target.
  static bool TakeOverPermissions(const std::string& temp, const std::string& target,
                                  SysError& error) {
    const UniqueFd file(::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file) {
      error = static_cast<SysError>(errno);
      return false;
    }
    struct stat info;
    mode_t mode;
    if (::stat(target.c_str(), &info) == 0) {
      if (!S_ISREG(info.st_mode)) return true;  // the rename decides
      // Owner first: a change of owner clears set-id bits that the mode then restores.
      if (::fchown(file.get(), info.st_uid, info.st_gid) != 0) {
        if (errno != EPERM) {
          error = static_cast<SysError>(errno);
          return false;
        }
        // The group alone may still be allowed.
        [[maybe_unused]] const int ignored =
            ::fchown(file.get(), static_cast<uid_t>(-1), info.st_gid);
      }
      mode = info.st_mode & 07777;
    } else if (errno == ENOENT) {
      mode = 0666 & ~CurrentUmask();
    } else {
      error = static_cast<SysError>(errno);
      return false;
    }
    if (::fchmod(file.get(), mode) != 0) {
      error = static_cast<SysError>(errno);
      return false;
    }
    return true;
  }

  std::vector<std::string> arguments_;
  std::string registryRoot_;  // $ProgramData/Registry; empty without ProgramData
  std::map<RegKey, OpenedKey> keys_;
  RegKey nextKey_ = 1;
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform(int argc, char** argv) {
  return std::make_unique<PosixPlatform>(argc, argv);
}

}  // namespace lw
