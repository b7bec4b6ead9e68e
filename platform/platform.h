// The one interface between the core and the operating system.
//
// The core speaks Windows semantics: byte strings in the ANSI code page, paths with
// backslashes, CR LF line ends. Implementations: platform-win32.cpp (the ...A functions),
// platform-posix.cpp (Linux stand-ins) and the recording fake in tests/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

// A system error code: GetLastError() on Windows, errno on POSIX.
using SysError = std::uint32_t;

// An open file; kInvalidFile when none.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// A registry key handle as the core sees it (HKEY); 0 when none. The predefined roots
// keep their 32-bit published values (0x80000001, 0x80000002) on every build.
using RegKey = std::uintptr_t;
// A registry call's result (LONG): 0 on success, a system error code otherwise.
using RegStatus = std::int32_t;

// The Administrators group identifier (PSID); 0 when none.
using SidHandle = std::uintptr_t;

struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

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
  // Load address of the executable, for reporting code addresses relative to it.
  virtual std::uintptr_t ModuleBase() = 0;

  // Version and privilege probes.
  virtual OsVersion GetVersion() = 0;
  // AllocateAndInitializeSid for S-1-5-32-544; false on failure.
  virtual bool AllocateAdminsSid(SidHandle& sid) = 0;
  // CheckTokenMembership with no token; false when the call fails.
  virtual bool CheckTokenMembership(SidHandle sid, bool& member) = 0;
  virtual void FreeSid(SidHandle sid) = 0;

  // Registry, always in the 64-bit view. `access` is the requested access without
  // KEY_WOW64_64KEY, which the implementation adds.
  virtual RegStatus CreateKey(RegKey base, std::string_view subKey, std::uint32_t access,
                              RegKey& key) = 0;
  virtual RegStatus OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                            RegKey& key) = 0;
  virtual RegStatus SetValue(RegKey key, std::string_view name, std::uint32_t type,
                             std::string_view data) = 0;
  virtual RegStatus CloseKey(RegKey key) = 0;
  virtual RegStatus ConnectRegistry(std::string_view machine, RegKey root, RegKey& key) = 0;

  // Environment and directories.
  // Value of an environment variable; empty when it is not set.
  virtual std::string GetEnv(std::string_view name) = 0;
  // Creates a directory and every missing parent; failures are ignored.
  virtual void CreateDirectories(std::string_view path) = 0;
  // True when a directory lookup finds `path` and it is not a directory.
  virtual bool FileExists(std::string_view path) = 0;

  // Files.
  // Opens for reading, sharing read access only (other writers are refused).
  virtual FileHandle OpenForRead(std::string_view path, SysError& error) = 0;
  virtual bool GetFileSize(FileHandle file, std::uint64_t& size, SysError& error) = 0;
  // One read of up to `size` bytes; `done` receives the count read.
  virtual bool ReadFile(FileHandle file, char* buffer, std::size_t size, std::size_t& done,
                        SysError& error) = 0;
  // Creates a new file exclusively in the folder of `target`, under a name nobody can
  // predict; `tempPath` receives its path.
  virtual FileHandle CreateTempBeside(std::string_view target, std::string& tempPath,
                                      SysError& error) = 0;
  // One write of `data`; `done` receives the count written.
  virtual bool WriteFile(FileHandle file, std::string_view data, std::size_t& done,
                         SysError& error) = 0;
  // Flushes the file's data to the disk.
  virtual bool FlushFile(FileHandle file, SysError& error) = 0;
  virtual void CloseFile(FileHandle file) = 0;
  // Puts the file `temp` in the place of `target` in one step, keeping the target's
  // permissions (and owner where possible) when it exists.
  virtual bool ReplaceWith(std::string_view temp, std::string_view target, SysError& error) = 0;
  virtual void RemoveFile(std::string_view path) = 0;

  // Full path of `path` as GetFullPathNameA expands it; empty for an empty path.
  virtual std::string FullPathName(std::string_view path) = 0;
  // The system's message text for `error`, as the system gives it.
  virtual std::string SystemErrorText(SysError error) = 0;
  // Upper-cases bytes in place with the ANSI code page's rules (CharUpperBuffA).
  virtual void UpperCase(char* bytes, std::size_t size) = 0;

  // Bytes of a resource of the executable, by name (letter case ignored) and numeric
  // type; false when there is none. The bytes live as long as the process.
  virtual bool FindResourceData(std::string_view name, std::uint32_t type,
                                std::string_view& data) = 0;
};

}  // namespace lw
