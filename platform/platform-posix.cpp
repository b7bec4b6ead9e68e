// The Linux stand-ins for the Windows services. Paths from the core have '\' turned
// into '/' here; paths handed back use '\' again. The registry lives in registry-posix.h.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/embedded_resources.h"
#include "platform/paths.h"
#include "platform/registry-posix.h"
#include "platform/system_platform.h"
#include "platform/util-posix.h"

// The ELF header of the module this code is linked into, placed by the linker at the module's
// load address (also in a statically linked executable, where dladdr finds nothing).
extern "C" const char __ehdr_start[] __attribute__((visibility("hidden")));

namespace lw {
namespace {

// Offsets and inode numbers of 64 bits on 32-bit systems too (the build asks for them with
// _FILE_OFFSET_BITS): without them readdir fails on a file system with larger inode numbers.
static_assert(sizeof(off_t) == 8 && sizeof(ino_t) == 8);

using posix::CorePath;
using posix::CreateUniqueAt;
using posix::FullParts;
using posix::JoinParts;
using posix::kRandomAlphabet;
using posix::MakeDirectories;
using posix::NativePath;
using posix::PosixRegistry;
using posix::UniqueDir;
using posix::UniqueFd;
using posix::WriteAll;

using Parts = std::vector<std::string>;

// Temporary files: ".~lw" and eight random characters, no longer than "rasphone.pbk".
constexpr std::string_view kTempPrefix = ".~lw";
constexpr std::size_t kTempNameSize = 12;
// The longest pause between two tries for a held folder.
constexpr std::uint32_t kLockPollMs = 50;

// Folders walked below a trusted one: no link entered; O_PATH needs search right only.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

SysError Errno() {
  return static_cast<SysError>(errno);
}

// Nothing there: no such file, or no folder on the way (a file in a folder's place, as
// Windows reports a path not found).
bool IsAbsence(SysError error) {
  return error == ENOENT || error == ENOTDIR;
}

bool IsTempName(std::string_view name) {
  return name.size() == kTempNameSize && name.substr(0, kTempPrefix.size()) == kTempPrefix &&
         name.find_first_not_of(kRandomAlphabet, kTempPrefix.size()) == std::string_view::npos;
}

std::uint64_t MonotonicUs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

// The code for `name` in `folder` that would not open with `error`: a link, or a FIFO,
// socket or device, in the tool's words.
SysError Refusal(int folder, const std::string& name, int error) {
  struct stat info;
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(info.st_mode)) return kErrorLinkRefused;
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return kErrorNotRegularFile;
  }
  return static_cast<SysError>(error);
}

FileStamp StampOf(const struct stat& info) {
  return {{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)},
          static_cast<std::uint64_t>(info.st_size),
          static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
              static_cast<std::uint64_t>(info.st_mtim.tv_nsec)};
}

// Whether the file `name` in `folder` holds `bytes` and nothing else.
bool HoldsBytes(int folder, const std::string& name, const std::string& bytes) {
  const UniqueFd fd(
      ::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!fd) return false;
  std::string read(bytes.size() + 1, '\0');
  std::size_t done = 0;
  while (done < read.size()) {
    const ssize_t got = ::read(fd.get(), read.data() + done, read.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done == bytes.size() && read.compare(0, done, bytes) == 0;
}

// Renames `from` to `to` in `folder`; with `onlyIfAbsent`, kErrorFileChanged when a file
// turned up at `to` (checked by the rename itself where the file system can).
SysError Rename(int folder, const std::string& from, const std::string& to, bool onlyIfAbsent) {
  if (onlyIfAbsent) {
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno == EEXIST) return kErrorFileChanged;
    if (errno != EINVAL && errno != ENOSYS) return Errno();
    struct stat info;
    if (::fstatat(folder, to.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return kErrorFileChanged;
  }
  return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : Errno();
}

// Owner and permission bits a save carries over.
struct Identity {
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0;
};

Identity IdentityOf(const struct stat& info) {
  // Never set-id or sticky bits: the text is the tool's, not an executable's.
  return {info.st_uid, info.st_gid, static_cast<mode_t>(info.st_mode & 0777)};
}

// Gives `file` the owner of `identity`, or its group alone where the owner is not allowed.
SysError GiveOwner(int file, const Identity& identity) {
  if (::fchown(file, identity.uid, identity.gid) == 0) return 0;
  if (errno != EPERM) return Errno();
  [[maybe_unused]] const int ignored = ::fchown(file, static_cast<uid_t>(-1), identity.gid);
  return 0;
}

// A file call's folder, opened, and the file's name in it.
struct Place {
  Parts folderParts;
  std::string name;  // empty when the path ends in a separator
  UniqueFd folder;

  std::string Key() const { return JoinParts(folderParts) + "/" + name; }
};

// The full parts of the core path `path`, split into folder and name.
SysError Split(std::string_view path, Place& place) {
  bool trailing = false;
  if (const int error = FullParts(NativePath(path), place.folderParts, trailing)) return error;
  place.name.clear();
  if (!trailing && !place.folderParts.empty()) {
    place.name = std::move(place.folderParts.back());
    place.folderParts.pop_back();
  }
  return 0;
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

class PosixPlatform final : public Platform {
 public:
  PosixPlatform(int argc, char** argv) {
    // A reader that goes away must not end the run: writes to it fail and are ignored.
    ::signal(SIGPIPE, SIG_IGN);
    // A standard stream left closed would be the next file opened, and log lines would
    // land in it: a phonebook, say. It writes nowhere instead, as on Windows.
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
      if (::fcntl(stream, F_GETFD) == -1 && errno == EBADF) {
        UniqueFd opened(::open("/dev/null", O_RDWR));
        if (opened.get() <= STDERR_FILENO) opened.release();  // kept in the closed one's place
      }
    }
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
    // The platform is linked into the executable itself, so this header is the executable's.
    return reinterpret_cast<std::uintptr_t>(__ehdr_start);
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

  SysError AllocateAdminsSid(SidHandle& sid) override {
    sid = SidHandle{1};  // nothing to allocate: membership is the effective uid
    return 0;
  }

  SysError CheckTokenMembership(SidHandle sid, bool& member) override {
    if (sid == kNoSid) return kErrorInvalidHandle;
    member = ::geteuid() == 0;
    return 0;
  }

  void FreeSid(SidHandle) override {}

  SysError CreateKey(RegKey base, std::string_view subKey, std::uint32_t access,
                     RegKey& key) override {
    return registry_.CreateKey(base, subKey, access, key);
  }

  SysError OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                   RegKey& key) override {
    return registry_.OpenKey(base, subKey, access, key);
  }

  SysError SetValue(RegKey key, std::string_view name, std::uint32_t type,
                    std::string_view data) override {
    return registry_.SetValue(key, name, type, data);
  }

  void CloseKey(RegKey key) override { registry_.CloseKey(key); }

  SysError ConnectRegistry(std::string_view machine, RegKey root, RegKey& key) override {
    return registry_.ConnectRegistry(machine, root, key);
  }

  SysError GetEnv(std::string_view name, std::string& value) override {
    const char* text = std::getenv(std::string(name).c_str());
    value = text == nullptr ? std::string() : std::string(text);
    return 0;
  }

  void TrustFolder(std::string_view folder) override {
    Parts parts;
    bool trailing = false;
    if (FullParts(NativePath(folder), parts, trailing) != 0) return;
    if (std::find(anchors_.begin(), anchors_.end(), parts) == anchors_.end()) {
      anchors_.push_back(std::move(parts));
    }
  }

  bool IsFullPath(std::string_view path) override { return !path.empty() && IsSeparator(path[0]); }

  void CreateDirectories(std::string_view path) override {
    Parts parts;
    bool trailing = false;
    UniqueFd ignored;
    if (FullParts(NativePath(path), parts, trailing) == 0) OpenFolder(parts, true, ignored);
  }

  SysError LockFile(std::string_view path, std::uint32_t timeoutMs, LockHandle& lock) override {
    lock = kNoLock;
    Place place;
    if (const SysError error = Split(path, place)) return error;
    UniqueFd dir;
    if (const HeldFolder* held = Held(place.folderParts)) {
      // Held already by this process: the same hold again, as a Windows mutex allows.
      dir = UniqueFd(::fcntl(held->fd.get(), F_DUPFD_CLOEXEC, 0));
      if (!dir) return Errno();
    } else {
      if (const SysError error = OpenFolder(place.folderParts, false, place.folder)) {
        return IsAbsence(error) ? 0 : error;
      }
      // flock needs a descriptor opened for reading, not a path one.
      dir = UniqueFd(::openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!dir) return Errno();
      // Polled, so that the wait has a bound; the hold ends with the descriptor.
      const std::uint64_t deadline = MonotonicUs() + std::uint64_t{timeoutMs} * 1000;
      for (std::uint32_t pause = 1;; pause = std::min(pause * 2, kLockPollMs)) {
        if (::flock(dir.get(), LOCK_EX | LOCK_NB) == 0) break;
        if (errno != EWOULDBLOCK && errno != EINTR) return Errno();
        const std::uint64_t now = MonotonicUs();
        if (now >= deadline) return kErrorLockTimeout;
        const std::uint64_t left = (deadline - now + 999) / 1000;
        Sleep(static_cast<std::uint32_t>(std::min<std::uint64_t>(pause, left)));
      }
    }
    lock = static_cast<LockHandle>(dir.get());
    locks_.push_back(HeldFolder{std::move(dir), std::move(place.folderParts)});
    return 0;
  }

  void UnlockFile(LockHandle lock) override {
    std::erase_if(
        locks_, [lock](const HeldFolder& held) { return held.fd.get() == static_cast<int>(lock); });
  }

  SysError OpenForRead(std::string_view path, FileHandle& file) override {
    file = kInvalidFile;
    Place place;
    if (const SysError error = Split(path, place)) return error;
    readFrom_.erase(place.Key());
    if (const SysError error = Open(place)) return IsAbsence(error) ? 0 : error;
    // Windows opens no folder as a file; the phonebook is then simply not there.
    if (place.name.empty()) return 0;
    // Non-blocking, so that a FIFO cannot hold the run; no link is followed.
    UniqueFd fd(::openat(place.folder.get(), place.name.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!fd) return errno == ENOENT ? 0 : Refusal(place.folder.get(), place.name, errno);
    struct stat info;
    if (::fstat(fd.get(), &info) != 0) return Errno();
    if (S_ISDIR(info.st_mode)) return 0;
    if (!S_ISREG(info.st_mode)) return kErrorNotRegularFile;
    readFrom_[place.Key()] = IdentityOf(info);
    file = static_cast<FileHandle>(fd.release());
    return 0;
  }

  std::uint64_t Milliseconds() override { return MonotonicUs() / 1000; }

  SysError GetFileStamp(FileHandle file, FileStamp& stamp) override {
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0) return Errno();
    stamp = StampOf(info);
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
    Place place;
    if (const SysError error = Locate(target, place)) return error;
    // Hidden, and no longer than the phonebook's own name; 0600 until it is put in place.
    std::string name;
    UniqueFd fd(CreateUniqueAt(place.folder.get(), std::string(kTempPrefix), 0600, name,
                               kTempNameSize - kTempPrefix.size()));
    if (!fd) return Errno();
    // The owner of the text that was read owns its copy from the start, wherever the copy
    // goes: no file of theirs ever becomes the process's. ReplaceWith reports a failure.
    if (const auto read = readFrom_.find(place.Key()); read != readFrom_.end()) {
      GiveOwner(fd.get(), read->second);
    }
    tempPath = std::string(FolderPart(target, kSeparators, *this)) + name;
    file = static_cast<FileHandle>(fd.get());
    temps_.emplace(fd.release(), TempFolder{std::move(place.folderParts), std::move(place.folder)});
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
    if (file == kInvalidFile) return;
    const UniqueFd closed(static_cast<int>(file));
    temps_.erase(closed.get());
  }

  SysError ReplaceWith(FileHandle temp, std::string_view tempPath, std::string_view target,
                       const ExpectedFile& expected) override {
    const int file = static_cast<int>(temp);
    const auto kept = temps_.find(file);
    Place place;
    Place from;
    if (const SysError error = Split(target, place)) return error;
    if (const SysError error = Split(tempPath, from)) return error;
    if (from.folderParts != place.folderParts || place.name.empty()) return EINVAL;
    // In the folder the temporary file was made in, even if its path leads elsewhere now.
    if (kept != temps_.end() && kept->second.folderParts == place.folderParts) {
      place.folder = UniqueFd(::fcntl(kept->second.folder.get(), F_DUPFD_CLOEXEC, 0));
      if (!place.folder) return Errno();
    } else if (const SysError error = Open(place)) {
      return error;
    }
    const int dir = place.folder.get();

    // Replacing what the process could not open for writing would undo its protection.
    std::optional<Identity> owner;
    mode_t mode = 0666 & ~CurrentUmask();
    const UniqueFd current(::openat(dir, place.name.c_str(),
                                    O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (current) {
      struct stat info;
      if (::fstat(current.get(), &info) != 0) return Errno();
      if (!S_ISREG(info.st_mode)) return kErrorNotRegularFile;
      owner = IdentityOf(info);
      if (expected.kind == ExpectedFile::kNothing ||
          (expected.kind == ExpectedFile::kFile &&
           (StampOf(info) != expected.stamp ||
            (expected.bytes != nullptr && !HoldsBytes(dir, place.name, *expected.bytes))))) {
        return kErrorFileChanged;
      }
    } else if (errno != ENOENT) {
      return Refusal(dir, place.name, errno);
    } else if (expected.kind == ExpectedFile::kFile) {
      return kErrorFileChanged;
    }
    // Owner and mode follow the file whose text this is, even if another took its place.
    if (const auto read = readFrom_.find(place.Key()); read != readFrom_.end()) {
      owner = read->second;
    }
    if (owner) {
      if (const SysError error = GiveOwner(file, *owner)) return error;
      mode = owner->mode;
    }
    if (::fchmod(file, mode) != 0) return Errno();

    // Only the file written goes into place, never what was put under its name meanwhile.
    struct stat written;
    struct stat named;
    if (::fstat(file, &written) != 0) return Errno();
    if (::fstatat(dir, from.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return Errno();
    if (written.st_dev != named.st_dev || written.st_ino != named.st_ino) return ENOENT;
    if (const SysError error =
            Rename(dir, from.name, place.name, expected.kind == ExpectedFile::kNothing)) {
      return error;
    }
    // The rename itself is durable only once the folder is on disk too.
    const UniqueFd sync(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (sync) ::fsync(sync.get());
    return 0;
  }

  SysError RemoveFile(std::string_view path) override {
    Place place;
    if (const SysError error = Locate(path, place)) return error;
    return ::unlinkat(place.folder.get(), place.name.c_str(), 0) == 0 ? 0 : Errno();
  }

  SysError IdentifyFile(std::string_view path, std::optional<FileIdentity>& identity) override {
    identity.reset();
    struct stat info;
    if (::stat(NativePath(path).c_str(), &info) != 0) return IsAbsence(Errno()) ? 0 : Errno();
    identity = StampOf(info).identity;
    return 0;
  }

  void RemoveStaleTemps(std::string_view target) override {
    Place place;
    if (Locate(target, place) != 0) return;
    UniqueFd listing(::openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing) return;
    const UniqueDir dir(::fdopendir(listing.get()));
    if (dir.get() == nullptr) return;
    listing.release();  // the listing owns it now
    const time_t now = ::time(nullptr);
    const uid_t self = ::geteuid();
    while (const dirent* entry = ::readdir(dir.get())) {
      if (!IsTempName(entry->d_name)) continue;
      // Only the process's own regular files, never through a link, and none that a run
      // could still be writing.
      struct stat info;
      if (::fstatat(place.folder.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(info.st_mode) && info.st_uid == self &&
          now - info.st_mtime > time_t{kStaleTempSeconds}) {
        ::unlinkat(place.folder.get(), entry->d_name, 0);
      }
    }
  }

  std::string FullPathName(std::string_view path) override {
    if (path.empty()) return {};
    Parts parts;
    bool trailing = false;
    if (FullParts(NativePath(path), parts, trailing) != 0) return {};
    // Lexical, like GetFullPathNameA: no symbolic link is followed.
    std::string full;
    for (const std::string& part : parts) full.append("\\").append(part);
    if (full.empty() || trailing) full += '\\';
    return full;
  }

  std::string SystemErrorText(SysError error) override {
    return std::strerror(static_cast<int>(error));
  }

  bool IsLeadByte(char) const override { return false; }

  void UpperCase(char* bytes, std::size_t size) override { AsciiUpperInPlace(bytes, size); }

  SysError FindResourceData(std::string_view name, std::uint32_t type,
                            std::string_view& data) override {
    for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i) {
      const EmbeddedResource& resource = kEmbeddedResources[i];
      if (resource.name != nullptr && resource.type == type &&
          EqualIgnoringAsciiCase(resource.name, name)) {
        data = std::string_view(resource.data, resource.size);
        return 0;
      }
    }
    return kErrorResourceNameNotFound;
  }

 private:
  // A folder this process holds against other runs.
  struct HeldFolder {
    UniqueFd fd;
    Parts parts;
  };
  // The folder a temporary file was made in, kept until it is put in place.
  struct TempFolder {
    Parts folderParts;
    UniqueFd folder;
  };

  const HeldFolder* Held(const Parts& parts) const {
    for (const HeldFolder& held : locks_) {
      if (held.parts == parts) return &held;
    }
    return nullptr;
  }

  // Opens the folder at `parts`: links are followed down to the longest trusted folder
  // that holds it (or the whole way when none does), never below it. Missing levels are
  // made when `create`.
  SysError OpenFolder(const Parts& parts, bool create, UniqueFd& folder) const {
    std::size_t trusted = parts.size();
    std::size_t longest = 0;
    for (const Parts& anchor : anchors_) {
      if (anchor.size() <= parts.size() && anchor.size() >= longest &&
          std::equal(anchor.begin(), anchor.end(), parts.begin())) {
        trusted = longest = anchor.size();
      }
    }
    const std::string followed = JoinParts(Parts(parts.begin(), parts.begin() + trusted));
    if (create) MakeDirectories(followed);
    folder = UniqueFd(::open(followed.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return Errno();
    for (std::size_t i = trusted; i < parts.size(); ++i) {
      const char* name = parts[i].c_str();
      UniqueFd next(::openat(folder.get(), name, kFolderFlags));
      if (!next && errno == ENOENT && create &&
          (::mkdirat(folder.get(), name, 0777) == 0 || errno == EEXIST)) {
        next = UniqueFd(::openat(folder.get(), name, kFolderFlags));
      }
      if (!next) {
        // A link is refused; anything else that is no folder means no folder.
        const int error = errno;
        const SysError refusal = Refusal(folder.get(), parts[i], error);
        return refusal == kErrorLinkRefused ? refusal : static_cast<SysError>(error);
      }
      folder = std::move(next);
    }
    return 0;
  }

  // Opens the folder of `place`: the one this process holds, when it holds it.
  SysError Open(Place& place) const {
    if (const HeldFolder* held = Held(place.folderParts)) {
      place.folder = UniqueFd(::fcntl(held->fd.get(), F_DUPFD_CLOEXEC, 0));
      return place.folder ? 0 : Errno();
    }
    return OpenFolder(place.folderParts, false, place.folder);
  }

  SysError Locate(std::string_view path, Place& place) const {
    if (const SysError error = Split(path, place)) return error;
    return Open(place);
  }

  std::vector<std::string> arguments_;
  PosixRegistry registry_;
  std::vector<Parts> anchors_;  // trusted folders
  std::vector<HeldFolder> locks_;
  std::map<int, TempFolder> temps_;  // by temporary file descriptor
  // Owner and mode of each file last read, by full native path.
  std::map<std::string, Identity> readFrom_;
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform(int argc, char** argv) {
  return std::make_unique<PosixPlatform>(argc, argv);
}

}  // namespace lw