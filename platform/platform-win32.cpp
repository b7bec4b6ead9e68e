// The Win32 platform: the ...A functions of KERNEL32, ADVAPI32 and USER32, nothing that
// Windows XP lacks (the 32-bit build must start there to refuse it), and no CRT text
// mode anywhere.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/ansi_name.h"
#include "platform/command_line.h"
#include "platform/files-win32.h"
#include "platform/handles-win32.h"
#include "platform/paths.h"
#include "platform/system_platform.h"

namespace lw {
namespace {

using namespace win32;

static_assert(sizeof(OSVERSIONINFOA) == 148);

// The numbers of codes.h pass to the system and back unchanged. (The roots are pointers
// here, no constants: ToHkey makes them, and the registry tests open them.)
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kErrorBadNetPath == ERROR_BAD_NETPATH);
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kErrorDiskFull == ERROR_DISK_FULL);
static_assert(kErrorBadPathname == ERROR_BAD_PATHNAME);
static_assert(kErrorRegistryIoFailed == ERROR_REGISTRY_IO_FAILED);
static_assert(kErrorResourceNameNotFound == ERROR_RESOURCE_NAME_NOT_FOUND);
// The tool's own codes lie where Windows leaves codes to applications.
static_assert((kErrorLockTimeout & kErrorNotInCodePage & kErrorNotRegularFile & kErrorLinkRefused &
               kErrorFileChanged & kErrorVolumeUnreachable & APPLICATION_ERROR_MASK) != 0);
static_assert(kKeyQueryValue == KEY_QUERY_VALUE);
static_assert(kKeySetValue == KEY_SET_VALUE);
static_assert(kKeyCreateSubKey == KEY_CREATE_SUB_KEY);
static_assert(kKeyEnumerateSubKeys == KEY_ENUMERATE_SUB_KEYS);
static_assert(kKeyNotify == KEY_NOTIFY);
static_assert(kKeyCreateLink == KEY_CREATE_LINK);
static_assert(kDelete == DELETE);
static_assert(kReadControl == READ_CONTROL);
static_assert(kWriteDac == WRITE_DAC);
static_assert(kWriteOwner == WRITE_OWNER);
static_assert(kGenericAll == GENERIC_ALL);
static_assert(kGenericWrite == GENERIC_WRITE);
static_assert(kGenericRead == GENERIC_READ);
static_assert(kKeyRead == KEY_READ);
static_assert(kKeyAllAccess == KEY_ALL_ACCESS);
static_assert(kRegNone == REG_NONE);
static_assert(kRegSz == REG_SZ);
static_assert(kRegExpandSz == REG_EXPAND_SZ);
static_assert(kRegBinary == REG_BINARY);
static_assert(kRegDword == REG_DWORD);

// The core passes predefined roots as their 32-bit values; real HKEYs sign-extend them.
HKEY ToHkey(RegKey key) {
  const auto value = static_cast<std::uintptr_t>(key);
  if ((static_cast<std::uint64_t>(value) >> 31) == 1) {
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(value)));
  }
  return reinterpret_cast<HKEY>(value);
}

RegKey FromHkey(HKEY key) {
  const auto value = reinterpret_cast<LONG_PTR>(key);
  if (value < 0 && static_cast<LONG>(value) == value) {
    return static_cast<RegKey>(static_cast<DWORD>(value));
  }
  return static_cast<RegKey>(reinterpret_cast<std::uintptr_t>(key));
}

// A file, mutex or SID handle as the core's handle type of its kind, and back.
template <typename Handle>
Handle AsCore(void* native) {
  return static_cast<Handle>(reinterpret_cast<std::underlying_type_t<Handle>>(native));
}

template <typename Handle>
void* AsNative(Handle handle) {
  return reinterpret_cast<void*>(static_cast<std::underlying_type_t<Handle>>(handle));
}

// The code of a call that has just failed; never 0, so that a call that set none still
// fails.
SysError LastError() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// What ends the folder part of a Windows path: a separator, or the colon of "C:name".
constexpr std::string_view kFolderEnds = "\\/:";

ULONGLONG WINAPI TickCount64();

// Pauses between tries for a lock file that another run holds.
constexpr DWORD kLockPollMs = 50;

void WriteAll(HANDLE handle, std::string_view data) {
  while (!data.empty()) {
    DWORD done = 0;
    if (!::WriteFile(handle, data.data(), ClampToDword(data.size()), &done, nullptr) || done == 0) {
      return;
    }
    data.remove_prefix(done);
  }
}

class Win32Platform final : public Platform {
 public:
  std::string ExecutablePath() override {
    std::string path(MAX_PATH, '\0');
    for (;;) {
      const DWORD size =
          ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (size == 0) return {};
      if (size < path.size() || path.size() >= 0x10000) {
        path.resize(size);
        return path;
      }
      path.resize(path.size() * 2);
    }
  }

  std::vector<std::string> Arguments() override { return SplitCommandLine(::GetCommandLineA()); }

  void WriteLine(std::string_view line) override {
    std::string text(line);
    text += "\r\n";
    WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), text);
  }

  void WriteError(std::string_view text) override {
    std::string oem(text.size(), '\0');
    if (!oem.empty()) ::CharToOemBuffA(text.data(), oem.data(), ClampToDword(text.size()));
    WriteAll(::GetStdHandle(STD_ERROR_HANDLE), oem);
  }

  std::string ReadLine() override {
    // Byte by byte, so nothing after the line is taken from the input.
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    char c;
    DWORD got = 0;
    while (::ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

  std::uint64_t Milliseconds() override { return TickCount64(); }

  std::uintptr_t ModuleBase() override {
    return reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
  }

  OsVersion GetVersion() override {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ::GetVersionExA(&info);
#pragma GCC diagnostic pop
    return {info.dwMajorVersion, info.dwMinorVersion};
  }

  SysError AllocateAdminsSid(SidHandle& sid) override {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
      return LastError();
    }
    sid = AsCore<SidHandle>(admins);
    return 0;
  }

  SysError CheckTokenMembership(SidHandle sid, bool& member) override {
    BOOL isMember = FALSE;
    if (!::CheckTokenMembership(nullptr, AsNative(sid), &isMember)) {
      return LastError();
    }
    member = isMember != FALSE;
    return 0;
  }

  void FreeSid(SidHandle sid) override {
    if (sid != kNoSid) ::FreeSid(AsNative(sid));
  }

  SysError CreateKey(RegKey base, std::string_view subKey, std::uint32_t access,
                     RegKey& key) override {
    const std::string path(subKey);
    HKEY opened = nullptr;
    DWORD disposition = 0;
    const LONG status =
        ::RegCreateKeyExA(ToHkey(base), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          access | KEY_WOW64_64KEY, nullptr, &opened, &disposition);
    if (status == ERROR_SUCCESS) key = FromHkey(opened);
    return status;
  }

  SysError OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                   RegKey& key) override {
    const std::string path(subKey);
    HKEY opened = nullptr;
    const LONG status =
        ::RegOpenKeyExA(ToHkey(base), path.c_str(), 0, access | KEY_WOW64_64KEY, &opened);
    if (status == ERROR_SUCCESS) key = FromHkey(opened);
    return status;
  }

  SysError SetValue(RegKey key, std::string_view name, std::uint32_t type,
                    std::string_view data) override {
    const std::string valueName(name);
    return ::RegSetValueExA(ToHkey(key), valueName.c_str(), 0, type,
                            reinterpret_cast<const BYTE*>(data.data()), ClampToDword(data.size()));
  }

  void CloseKey(RegKey key) override {
    ::RegCloseKey(ToHkey(key));
  }

  SysError ConnectRegistry(std::string_view machine, RegKey root, RegKey& key) override {
    const std::string name(machine);
    HKEY connected = nullptr;
    const LONG status = ::RegConnectRegistryA(name.c_str(), ToHkey(root), &connected);
    if (status == ERROR_SUCCESS) key = FromHkey(connected);
    return status;
  }

  SysError GetEnv(std::string_view name, std::string& value) override {
    value.clear();
    const std::wstring variable = Widen(name);
    std::wstring wide(256, L'\0');
    // The size asked for includes the NUL; the value may change between the calls.
    for (int attempt = 0; attempt < 8; ++attempt) {
      const DWORD size =
          ::GetEnvironmentVariableW(variable.c_str(), wide.data(), static_cast<DWORD>(wide.size()));
      if (size < wide.size()) {
        wide.resize(size);
        return AnsiFolderName(AsU16(wide), ExactAnsi, ShortPath, value);
      }
      wide.resize(size);
    }
    return 0;
  }

  void TrustFolder(std::string_view folder) override {
    trusted_.emplace_back(folder);
  }

  bool IsFullPath(std::string_view path) override {
    return IsFullWindowsPath(path, *this);
  }

  void CreateDirectories(std::string_view path) override {
    const FsRedirectionOff noRedirection;
    const std::string text(path);
    const std::size_t checked = CheckedFrom(text);
    // Each folder from the root on, ending before a separator or at the end; a doubled
    // separator makes none.
    for (std::size_t start = RootLength(text, *this); start < text.size();) {
      std::size_t end = FindSeparator(text, start, kSeparators, *this);
      if (end == std::string::npos) end = text.size();
      if (end > start) {
        const std::string folder = text.substr(0, end);
        // Nothing is made through a link.
        if (end > checked && IsLink(folder, ::GetFileAttributesA(folder.c_str()))) return;
        ::CreateDirectoryA(folder.c_str(), nullptr);
      }
      start = end + 1;
    }
  }

  SysError LockFile(std::string_view path, std::uint32_t timeoutMs, LockHandle& lock) override {
    lock = kNoLock;
    const FsRedirectionOff noRedirection;
    const std::string name(path);
    if (const SysError error = RefuseLinks(name)) return error;
    const std::string lockPath =
        std::string(FolderPart(name, kFolderEnds, *this)) + std::string(kLockName);
    const ULONGLONG deadline = TickCount64() + timeoutMs;
    for (DWORD pause = 1;; pause = std::min<DWORD>(pause * 2, kLockPollMs)) {
      // Nobody else's handle beside it, and gone with the last one: a run that is killed
      // lets go. Never through a link that somebody put in its place.
      const HANDLE file =
          ::CreateFileA(lockPath.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY |
                            FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                        nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        lock = AsCore<LockHandle>(file);
        return 0;
      }
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;  // no folder
      // Denied with no lock file there: this user may not make files in the folder, and
      // so cannot change the phonebook either. (Denied with one there, it is going.)
      if ((error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) &&
          ::GetFileAttributesA(lockPath.c_str()) == INVALID_FILE_ATTRIBUTES &&
          ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        return 0;
      }
      if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return error;
      const ULONGLONG now = TickCount64();
      if (now >= deadline) return kErrorLockTimeout;
      ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, deadline - now)));
    }
  }

  void UnlockFile(LockHandle lock) override {
    if (lock != kNoLock) ::CloseHandle(AsNative(lock));
  }

  SysError OpenForRead(std::string_view path, FileHandle& file) override {
    file = kInvalidFile;
    const FsRedirectionOff noRedirection;
    const std::string name(path);
    if (const SysError error = RefuseLinks(name)) return error;
    UniqueHandle handle(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return VolumeAnswers(name) ? 0 : kErrorVolumeUnreachable;
      }
      // A folder in the file's place counts as no file.
      const DWORD attributes = ::GetFileAttributesA(name.c_str());
      if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return 0;
      }
      return error;
    }
    if (const SysError error = CheckOpenedFile(handle.Get(), name)) return error;
    // A reparse point that is no link (a cloud placeholder, say) is read through its filter.
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(handle.Get(), &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      handle = UniqueHandle(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!handle) return ::GetLastError();
    }
    file = AsCore<FileHandle>(handle.Release());
    return 0;
  }

  SysError GetFileStamp(FileHandle file, FileStamp& stamp) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(AsNative(file), &info)) return ::GetLastError();
    stamp = StampOf(info);
    return 0;
  }

  SysError GetFileSize(FileHandle file, std::uint64_t& size) override {
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(AsNative(file), &length)) return ::GetLastError();
    size = static_cast<std::uint64_t>(length.QuadPart);
    return 0;
  }

  SysError ReadFile(FileHandle file, char* buffer, std::size_t size, std::size_t& done) override {
    DWORD got = 0;
    const bool ok = ::ReadFile(AsNative(file), buffer, ClampToDword(size), &got, nullptr);
    done = got;
    return ok ? 0 : ::GetLastError();
  }

  SysError CreateTempBeside(std::string_view target, FileHandle& file,
                            std::string& tempPath) override {
    if (target.empty()) return ERROR_PATH_NOT_FOUND;
    const std::string name(target);
    if (const SysError error = RefuseLinks(name)) return error;
    const std::string folder(FolderPart(name, kFolderEnds, *this));
    std::string random;
    SysError error = ERROR_GEN_FAILURE;
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (!RandomName(random)) return ERROR_GEN_FAILURE;
      const FsRedirectionOff noRedirection;  // after the random source, which may load a library
      const std::string path = folder + random;
      // DELETE: it is renamed, or removed, through this handle. Nothing more: a file
      // server may grant no more, not even to the maker of a file.
      const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        tempPath = path;
        file = AsCore<FileHandle>(handle);
        return 0;
      }
      error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return error;
  }

  SysError WriteFile(FileHandle file, std::string_view data, std::size_t& done) override {
    DWORD written = 0;
    const bool ok =
        ::WriteFile(AsNative(file), data.data(), ClampToDword(data.size()), &written, nullptr);
    done = written;
    return ok ? 0 : ::GetLastError();
  }

  SysError FlushFile(FileHandle file) override {
    return ::FlushFileBuffers(AsNative(file)) ? 0 : ::GetLastError();
  }

  void CloseFile(FileHandle file) override {
    if (file != kInvalidFile) ::CloseHandle(AsNative(file));
  }

  SysError ReplaceWith(FileHandle temp, std::string_view tempPath, std::string_view target,
                       const ExpectedFile& expected) override {
    const FsRedirectionOff noRedirection;
    const HANDLE file = AsNative(temp);
    const std::string from(tempPath);
    if (const SysError error = SameFile(file, from)) return error;
    return PutInPlace(file, from, std::string(target), expected);
  }

  SysError RemoveFile(std::string_view path) override {
    const FsRedirectionOff noRedirection;
    const std::string name(path);
    return ::DeleteFileA(name.c_str()) ? 0 : ::GetLastError();
  }

  SysError IdentifyFile(std::string_view path, std::optional<FileIdentity>& identity) override {
    identity.reset();
    const std::string name(path);
    // No access asked, all sharing allowed: the file's information only, whoever holds it.
    const UniqueHandle handle(
        ::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
      const DWORD error = ::GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle.Get(), &info)) return ::GetLastError();
    identity = StampOf(info).identity;
    return 0;
  }

  void RemoveStaleTemps(std::string_view target) override {
    const std::string name(target);
    const FsRedirectionOff noRedirection;
    if (RefuseLinks(name) != 0) return;
    const std::string folder(FolderPart(name, kFolderEnds, *this));
    WIN32_FIND_DATAA found;
    const UniqueFind find(::FindFirstFileA((folder + "~lw*").c_str(), &found));
    if (!find) return;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    do {
      if (!IsTempName(found.cFileName) ||
          (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        continue;
      }
      // Share nothing: a run still writing it holds it open, and it cannot be swapped
      // between the checks and the removal.
      const std::string path = folder + found.cFileName;
      const UniqueHandle file(::CreateFileA(path.c_str(), DELETE | READ_CONTROL, 0, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      BY_HANDLE_FILE_INFORMATION info;
      if (!file || !::GetFileInformationByHandle(file.Get(), &info) ||
          (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
          Ticks(info.ftLastWriteTime) + kStaleTempSeconds * kTicksPerSecond >= Ticks(now) ||
          !OwnedByUs(file.Get())) {
        continue;
      }
      DeleteOnClose(file.Get());
    } while (::FindNextFileA(find.Get(), &found));
  }

  std::string FullPathName(std::string_view path) override {
    const std::string name(path);
    if (name.empty()) return {};
    std::string full(MAX_PATH, '\0');
    DWORD size = ::GetFullPathNameA(name.c_str(), MAX_PATH, full.data(), nullptr);
    if (size >= MAX_PATH) {
      // Too long for the buffer: `size` is the room it needs, NUL included.
      full.resize(size);
      size = ::GetFullPathNameA(name.c_str(), size, full.data(), nullptr);
      if (size >= full.size()) return {};
    }
    full.resize(size);
    return full;
  }

  std::string SystemErrorText(SysError error) override {
    char text[256];
    const DWORD size = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    return std::string(text, size);
  }

  bool IsLeadByte(char byte) const override {
    return ::IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(byte)) != FALSE;
  }

  void UpperCase(char* bytes, std::size_t size) override {
    while (size > 0) {
      const DWORD part = ClampToDword(size);
      ::CharUpperBuffA(bytes, part);
      bytes += part;
      size -= part;
    }
  }

  SysError FindResourceData(std::string_view name, std::uint32_t type,
                            std::string_view& data) override {
    const std::string resourceName(name);
    const HRSRC info = ::FindResourceA(nullptr, resourceName.c_str(), MAKEINTRESOURCEA(type));
    if (info == nullptr) return LastError();
    const HGLOBAL loaded = ::LoadResource(nullptr, info);
    if (loaded == nullptr) return LastError();
    const DWORD size = ::SizeofResource(nullptr, info);
    const void* bytes = ::LockResource(loaded);
    // LockResource sets no error code.
    if (bytes == nullptr && size != 0) return ERROR_RESOURCE_DATA_NOT_FOUND;
    // Module resources stay mapped for the life of the process: nothing to free.
    data = std::string_view(static_cast<const char*>(bytes), size);
    return 0;
  }

 private:
  // Where the part of `path` that may hold no link starts: after the longest trusted
  // folder it lies below, else at its last part.
  std::size_t CheckedFrom(std::string_view path) const {
    std::size_t from = 0;
    for (const std::string& folder : trusted_) {
      if (!folder.empty() && path.size() > folder.size() && path.starts_with(folder) &&
          (EndsInSeparator(folder, kSeparators, *this) || IsSeparator(path[folder.size()]))) {
        from = std::max(from, folder.size());
      }
    }
    if (from != 0) return from;
    const std::size_t last = FindLastSeparator(path, kSeparators, *this);
    return last == std::string_view::npos ? 0 : last + 1;
  }

  // kErrorLinkRefused when a folder of `path` from CheckedFrom on is a link; the file
  // itself is checked once it is open. Stops at the first folder that is not there.
  SysError RefuseLinks(const std::string& path) const {
    const FsRedirectionOff noRedirection;
    std::size_t pos = CheckedFrom(path);
    for (;;) {
      const std::size_t end = FindSeparator(path, pos, kSeparators, *this);
      if (end == std::string::npos) return 0;
      if (end > pos) {
        const std::string folder = path.substr(0, end);
        const DWORD attributes = ::GetFileAttributesA(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
        if (IsLink(folder, attributes)) return kErrorLinkRefused;
      }
      pos = end + 1;
    }
  }

  // Puts the temporary file `temp` in the place of `target` with one rename, once what is
  // there is `expected`, after giving it the protection and attributes of that file.
  SysError PutInPlace(HANDLE temp, const std::string& tempPath, const std::string& target,
                      const ExpectedFile& expected) {
    if (const SysError error = RefuseLinks(target)) return error;
    const std::wstring full = Widen(FullPathName(target));
    if (full.empty()) return ERROR_INVALID_NAME;
    // Open from the checks to the rename, sharing no writing: nobody changes the file in
    // between. No write access is asked for, which would invite a scanner to read the
    // file when it closes; no delete access, which the rename asks for itself.
    UniqueHandle existing(::CreateFileA(
        target.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_READ_DATA | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    if (existing) {
      if (const SysError error = CheckOpenedFile(existing.Get(), target)) return error;
      if (expected.kind == ExpectedFile::kNothing ||
          (expected.kind == ExpectedFile::kFile && !IsExpected(existing.Get(), expected))) {
        return kErrorFileChanged;
      }
      if (const SysError error = MayWrite(existing.Get(), target)) return error;
      if (const SysError error = CarryProtection(existing.Get(), temp, tempPath)) return error;
    } else if (const DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND) {
      return error;  // a holder's sharing violation included: the caller waits
    } else if (expected.kind == ExpectedFile::kFile) {
      return kErrorFileChanged;
    }
    // A file that turned up meanwhile is not replaced unread.
    return RenameOver(
        temp, full, existing,
        expected.kind == ExpectedFile::kAnything ? kErrorSharingViolation : kErrorFileChanged);
  }

  // Whether the drive or share that holds `path` answers, so that a file missing there is
  // missing indeed; a path without a root cannot tell.
  bool VolumeAnswers(const std::string& path) const {
    const std::size_t root = RootLength(path, *this);
    if (root == 0) return true;
    std::string volume = path.substr(0, root);
    if (!EndsInSeparator(volume, kSeparators, *this)) volume += '\\';
    return ::GetFileAttributesA(volume.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // Folders below which no link is followed.
  std::vector<std::string> trusted_;
};

// The static winpthread that libstdc++ brings imports GetTickCount64 (for timed waits
// this program never makes), which Windows XP lacks and would refuse to load the
// executable for. Its import slot is defined here instead: the real function where the
// system has one, GetTickCount where it has not.
ULONGLONG WINAPI TickCount64() {
  using Function = ULONGLONG(WINAPI*)();
  static const auto real = Kernel32Function<Function>("GetTickCount64");
  return real != nullptr ? real() : ::GetTickCount();
}

}  // namespace

// Linked before libkernel32.a is searched, so no import of GetTickCount64 is made.
#if defined(__i386__)
#define LW_TICK_COUNT_64_SLOT "__imp__GetTickCount64@0"  // stdcall decoration
#else
#define LW_TICK_COUNT_64_SLOT "__imp_GetTickCount64"
#endif
extern "C" ULONGLONG(WINAPI* lwTickCount64Slot)() __asm__(LW_TICK_COUNT_64_SLOT);
ULONGLONG(WINAPI* lwTickCount64Slot)() = TickCount64;

std::unique_ptr<Platform> CreateSystemPlatform(int, char**) {
  return std::make_unique<Win32Platform>();
}

}  // namespace lw
