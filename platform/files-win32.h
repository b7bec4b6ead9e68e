// The file, name and lock helpers of the Win32 platform.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handles-win32.h"
#include "platform/platform.h"

namespace lw::win32 {

inline DWORD ClampToDword(std::size_t size) {
  return static_cast<DWORD>(std::min<std::uint64_t>(size, MAXDWORD));
}

// Temporary files: "~lw" and nine characters of this alphabet from the system's random
// generator (45 bits nobody can guess), no longer than "rasphone.pbk", so a path that
// can be read can be saved.
inline constexpr std::string_view kTempPrefix = "~lw";
inline constexpr std::string_view kNameDigits = "0123456789abcdefghijklmnopqrstuv";
inline constexpr std::size_t kTempNameSize = 12;

// A new name of that form; false when the generator fails.
bool RandomName(std::string& name);

// Whether `name` is one RandomName could have made.
bool IsTempName(std::string_view name);

// FILETIME's units, 100 ns, in a second.
inline constexpr std::uint64_t kTicksPerSecond = 10000000;

// A FILETIME as one number.
std::uint64_t Ticks(const FILETIME& time);

// A KERNEL32 function Windows XP lacks, looked up when first needed, so that the 32-bit
// build still loads there to refuse it; null where the system has none.
template <typename Function>
Function Kernel32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
}

// WOW64's file-system redirection turned off for this thread while one lives: a 32-bit run
// on 64-bit Windows then reaches the System32 that SYSTEM's profile lies below, not
// SysWOW64. Library loads of the thread lose their redirection too, so nothing in its scope
// may load a library. It keeps the thread's last error. Where nothing is redirected
// (64-bit builds, 32-bit Windows, XP) it does nothing.
class FsRedirectionOff {
 public:
  // The pair of functions that turn the redirection off and back, looked up at run time.
  struct Switch {
    BOOL(WINAPI* disable)(PVOID* old) = nullptr;
    BOOL(WINAPI* revert)(PVOID old) = nullptr;
  };
  // The system's pair; none in 64-bit builds, whose paths are never redirected.
  static const Switch& System();

  explicit FsRedirectionOff(const Switch& calls = System()) noexcept;
  FsRedirectionOff(const FsRedirectionOff&) = delete;
  FsRedirectionOff& operator=(const FsRedirectionOff&) = delete;
  ~FsRedirectionOff() noexcept;

 private:
  BOOL(WINAPI* revert_)(PVOID old);  // null when nothing was turned off
  PVOID old_ = nullptr;
};

// SetFileInformationByHandle (Vista and later).
BOOL SetFileInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size);

// Removes an open file when its last handle closes; the handle needs DELETE access.
void DeleteOnClose(HANDLE file);

// UTF-16 of ANSI bytes; empty when they are not valid in the code page.
std::wstring Widen(std::string_view bytes);

// Windows text as the platform-neutral code takes it.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
std::u16string_view AsU16(std::wstring_view text);

// The ANSI code page's bytes for `text` when they name it exactly: no best-fit look-alike,
// no default character, the same UTF-16 back.
std::optional<std::string> ExactAnsi(std::u16string_view text);

// The short (8.3) form of a path that is there.
std::optional<std::u16string> ShortPath(std::u16string_view path);

// Whether the file's owner is the process's user or the owner it gives new files (an
// elevated administrator's files belong to the Administrators group).
bool OwnedByUs(HANDLE file);

// Whether the thing at `path` with `attributes` is a link: a reparse point that names
// another place (symbolic link, junction), not one that only stores the file (a cloud
// placeholder, a compressed or deduplicated file).
bool IsLink(const std::string& path, DWORD attributes);

// kErrorLinkRefused for a link opened in place of a file, kErrorNotRegularFile for a
// pipe or device.
SysError CheckOpenedFile(HANDLE file, const std::string& path);

// ERROR_FILE_NOT_FOUND unless the open `file` is the one at `path`.
SysError SameFile(HANDLE file, const std::string& path);

// The file a run holds in a phonebook's folder while it works on the phonebook: any
// spelling of the folder reaches it, and it goes when its holder's handle closes.
inline constexpr std::string_view kLockName = "~lw.lock";

// Which file an open handle is, its size and last write.
FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info);

// Whether the open `file` is what `expected` names: the same file, size and last write,
// and the same bytes where they are given.
bool IsExpected(HANDLE file, const ExpectedFile& expected);

// 0 when the process may write the open `file` (its attributes and its access list allow
// it), else access denied; `path` names it for a last try where the system cannot tell.
SysError MayWrite(HANDLE file, const std::string& path);

// Whether a file's security descriptor has an access list of its own: protected from its
// folder's, holding an entry of its own, or no list or an empty one (which no folder
// hands down).
bool HasOwnAccessList(void* descriptor);

// Gives `temp`, the open temporary file at `tempPath`, what it does not get from its folder
// of the protection of `existing`: its access list where that is its own (explicit
// entries, or protected from its folder's), its owner and group where the process may,
// and its attributes. A list that cannot be carried over fails; an owner never does.
SysError CarryProtection(HANDLE existing, HANDLE temp, const std::string& tempPath);

// The name NtSetInformationFile takes for a full path: "\??\C:\...", "\??\UNC\server\...".
std::wstring NtPath(const std::wstring& full);

// Renames the open `temp` to `full`; over the file there when `existing` holds it open
// (and closes it when the system needs that). kErrorSharingViolation while another
// program holds the target; `absentError` when a file turned up where there was none.
SysError RenameOver(HANDLE temp, const std::wstring& full, UniqueHandle& existing,
                    SysError absentError);

}  // namespace lw::win32
