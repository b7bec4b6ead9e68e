// The one interface between the core and the operating system.
//
// The core speaks Windows semantics: byte strings in the ANSI code page, paths with
// backslashes, CR LF line ends. Implementations: platform-win32.cpp (the ...A functions),
// platform-posix.cpp (Linux stand-ins) and the recording fake in tests/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codes.h"

namespace lw {

// Handles: one type each, so that one kind never passes for another or for a number.
// Their owners are in platform/handles.h.

// An open file; kInvalidFile when none.
enum class FileHandle : std::intptr_t {};
inline constexpr FileHandle kInvalidFile{-1};

// A hold on a file against other runs of the tool; kNoLock when none.
enum class LockHandle : std::intptr_t {};
inline constexpr LockHandle kNoLock{-1};

// A registry key handle as the core sees it (HKEY); kNoKey when none. The predefined roots
// keep their 32-bit published values on every build.
enum class RegKey : std::uintptr_t {};
inline constexpr RegKey kNoKey{0};
inline constexpr RegKey kHkeyCurrentUser{0x80000001};
inline constexpr RegKey kHkeyLocalMachine{0x80000002};

// The Administrators group identifier (PSID); kNoSid when none.
enum class SidHandle : std::uintptr_t {};
inline constexpr SidHandle kNoSid{0};

// What makes a file itself, however a path spells it: its volume and its index there
// (device and inode on POSIX).
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// A file as it was found: which file it is, and its size and last write, to tell later
// whether it is still that file, unchanged.
struct FileStamp {
  FileIdentity identity;
  std::uint64_t size = 0;
  std::uint64_t lastWrite = 0;  // in the platform's own units
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// What a replace must find in the target's place before it puts its file there.
struct ExpectedFile {
  enum Kind { kAnything, kNothing, kFile };
  Kind kind = kAnything;
  FileStamp stamp;  // kFile: the file that was read
  // kFile: its bytes, where they are cheap to compare; none when not given.
  const std::string* bytes = nullptr;
};

// How long a temporary file of CreateTempBeside's naming lies untouched before it counts as
// left by a run that was killed.
inline constexpr std::uint32_t kStaleTempSeconds = 10 * 60;

struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

// Every call that can fail returns 0 or an error code, and its results through
// out-parameters. Releases (CloseFile, UnlockFile, FreeSid, CloseKey) return nothing: a
// release that fails cannot be acted upon.
class Platform {
 public:
  virtual ~Platform() = default;

  // Process and console.
  // Path of the running executable, with backslash separators.
  virtual std::string ExecutablePath() = 0;
  // Arguments 1..n, ending before the first empty one.
  virtual std::vector<std::string> Arguments() = 0;
  // Writes `line` and CR LF to standard output in one write.
  virtual void WriteLine(std::string_view line) = 0;
  // Writes raw bytes to standard error (converted to the OEM code page on Windows).
  virtual void WriteError(std::string_view text) = 0;
  // Reads one line from standard input (waits for Enter); empty at end of input.
  virtual std::string ReadLine() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // A clock in milliseconds that only moves forward, for bounding waits.
  virtual std::uint64_t Milliseconds() = 0;
  // Load address of the executable, for reporting code addresses relative to it.
  virtual std::uintptr_t ModuleBase() = 0;

  // Version and privilege probes.
  virtual OsVersion GetVersion() = 0;
  // AllocateAndInitializeSid for S-1-5-32-544.
  virtual SysError AllocateAdminsSid(SidHandle& sid) = 0;
  // CheckTokenMembership with no token: whether the process holds `sid` enabled.
  virtual SysError CheckTokenMembership(SidHandle sid, bool& member) = 0;
  virtual void FreeSid(SidHandle sid) = 0;

  // Registry, always in the 64-bit view; a failure is a Windows error code on every
  // platform. `access` is the requested access without KEY_WOW64_64KEY, which the
  // implementation adds.
  virtual SysError CreateKey(RegKey base, std::string_view subKey, std::uint32_t access,
                             RegKey& key) = 0;
  virtual SysError OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                           RegKey& key) = 0;
  virtual SysError SetValue(RegKey key, std::string_view name, std::uint32_t type,
                            std::string_view data) = 0;
  virtual void CloseKey(RegKey key) = 0;
  virtual SysError ConnectRegistry(std::string_view machine, RegKey root, RegKey& key) = 0;

  // Environment and directories.
  // Value of an environment variable in the ANSI code page, into `value`; empty when it
  // is not set. kErrorNotInCodePage when the value is a folder that the code page cannot
  // name exactly, neither by its long nor by its short name: never a look-alike.
  virtual SysError GetEnv(std::string_view name, std::string& value) = 0;
  // Below `folder` nothing is followed: a link or reparse point in place of a folder or
  // file of a path below it is refused (kErrorLinkRefused), never entered or replaced.
  // `folder` itself may be one. Paths below no trusted folder refuse one as their last part.
  virtual void TrustFolder(std::string_view folder) = 0;
  // Whether `path` names its place without the current drive or folder: a drive and its
  // root or a server and a share on Windows, an absolute path natively.
  virtual bool IsFullPath(std::string_view path) = 0;
  // Creates a directory and every missing parent; failures are ignored (the next call
  // on a path inside reports them).
  virtual void CreateDirectories(std::string_view path) = 0;

  // Files.
  // Waits up to `timeoutMs` while another run of the tool holds the file `path`, then
  // holds it until UnlockFile; kErrorLockTimeout when the wait runs out. The hold belongs
  // to the file, however its path is spelled, and ends with the process, however it ends;
  // only those who may write in the file's folder can take it. kNoLock and 0 when `path`
  // has no folder yet, or this user may not hold files there: nothing can be written
  // there then.
  virtual SysError LockFile(std::string_view path, std::uint32_t timeoutMs, LockHandle& lock) = 0;
  virtual void UnlockFile(LockHandle lock) = 0;
  // Opens an existing regular file for reading; others may read it meanwhile, not write.
  // When nothing is there (no such file or folder below a volume that answers, or a
  // folder in the file's place) it returns 0 with `file` kInvalidFile; a drive or share
  // that does not answer is kErrorVolumeUnreachable. kErrorSharingViolation while another
  // program holds the file.
  virtual SysError OpenForRead(std::string_view path, FileHandle& file) = 0;
  virtual SysError GetFileSize(FileHandle file, std::uint64_t& size) = 0;
  // Which file `file` is, its size and last write.
  virtual SysError GetFileStamp(FileHandle file, FileStamp& stamp) = 0;
  // One read of up to `size` bytes; `done` receives the count read.
  virtual SysError ReadFile(FileHandle file, char* buffer, std::size_t size, std::size_t& done) = 0;
  // Creates a new file for writing, nobody else's, in the folder of `target`, under an
  // unpredictable name no longer than "rasphone.pbk" (so that a path that can be read
  // can be saved); `tempPath` receives its path.
  virtual SysError CreateTempBeside(std::string_view target, FileHandle& file,
                                    std::string& tempPath) = 0;
  // One write of `data`; `done` receives the count written.
  virtual SysError WriteFile(FileHandle file, std::string_view data, std::size_t& done) = 0;
  // Flushes the file's data to the disk.
  virtual SysError FlushFile(FileHandle file) = 0;
  virtual void CloseFile(FileHandle file) = 0;
  // Puts the temporary file `temp`, open at `tempPath`, in the place of `target` in one
  // step: the name `target` is never absent meanwhile, and the phonebook's protection,
  // attributes (and owner where allowed) carry over: those of the file that was read
  // there, else of the file being replaced. kErrorFileChanged, nothing replaced, unless
  // `expected` is what is there; access denied for an existing target the process could
  // not open for writing; kErrorSharingViolation while another program holds it. `temp`
  // stays open: the caller closes it.
  virtual SysError ReplaceWith(FileHandle temp, std::string_view tempPath, std::string_view target,
                               const ExpectedFile& expected) = 0;
  // Removes a file; an open file cannot be removed.
  virtual SysError RemoveFile(std::string_view path) = 0;
  // The identity of the file or folder at `path`, links followed; nothing in `identity`
  // when nothing is there.
  virtual SysError IdentifyFile(std::string_view path, std::optional<FileIdentity>& identity) = 0;
  // Removes the temporary files of CreateTempBeside's naming beside `target` that belong
  // to the process's user and are older than kStaleTempSeconds.
  virtual void RemoveStaleTemps(std::string_view target) = 0;

  // Full path of `path` as GetFullPathNameA expands it; empty for an empty path.
  virtual std::string FullPathName(std::string_view path) = 0;
  // The system's message text for `error`, as the system gives it.
  virtual std::string SystemErrorText(SysError error) = 0;
  // Whether `byte` starts a two-byte character of the ANSI code page (IsDBCSLeadByteEx), whose
  // second byte may be a backslash: the walks of platform/paths.h step over such
  // characters. Never natively.
  virtual bool IsLeadByte(char byte) const = 0;
  // Upper-cases bytes in place with the ANSI code page's rules (CharUpperBuffA).
  virtual void UpperCase(char* bytes, std::size_t size) = 0;

  // Bytes of a resource of the executable, by name (letter case ignored) and numeric
  // type; an error when there is none (kErrorResourceNameNotFound where no system says
  // more). The bytes live as long as the process.
  virtual SysError FindResourceData(std::string_view name, std::uint32_t type,
                                    std::string_view& data) = 0;
};

}  // namespace lw
