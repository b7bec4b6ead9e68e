#include "platform/files-win32.h"

// windows.h first: these need its types.
#include <ntsecapi.h>
#include <sddl.h>

#include <cstring>
#include <vector>

namespace lw::win32 {
namespace {

// The parts `what` of an object's security descriptor.
SysError ReadSecurity(HANDLE object, SECURITY_INFORMATION what,
                      std::vector<unsigned char>& descriptor) {
  descriptor.assign(256, 0);
  for (;;) {
    DWORD needed = 0;
    if (::GetKernelObjectSecurity(object, what, descriptor.data(),
                                  static_cast<DWORD>(descriptor.size()), &needed)) {
      return 0;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size()) return error;
    descriptor.resize(needed);
  }
}

// A part of the process token (TOKEN_USER, TOKEN_OWNER); empty on failure.
std::vector<unsigned char> TokenPart(TOKEN_INFORMATION_CLASS part) {
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return {};
  const UniqueHandle token(opened);
  DWORD needed = 0;
  ::GetTokenInformation(token.Get(), part, nullptr, 0, &needed);
  std::vector<unsigned char> data(needed);
  if (needed == 0 || !::GetTokenInformation(token.Get(), part, data.data(), needed, &needed)) {
    return {};
  }
  return data;
}

// Attributes a replaced file hands on.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The name of the mutex every run derives from a file's upper-cased full path: a hash,
// since a mutex name holds no backslash and no more than MAX_PATH characters.
std::string LockName(std::string_view upperFullPath) {
  std::uint64_t hash = 14695981039346656037ull;  // 64-bit FNV-1a
  for (const char c : upperFullPath) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  // Global: runs in other sessions (another user's, a service's) must see it too.
  std::string name = "Global\\Linkwright.pbk.";
  for (int shift = 60; shift >= 0; shift -= 4) name += kNameDigits[(hash >> shift) & 15];
  return name;
}

// Everyone may wait for and release it (SYNCHRONIZE, MUTEX_MODIFY_STATE): runs of other
// users, and the same user elevated or not, share one hold; nobody else may change it.
constexpr char kLockSecurity[] = "D:(A;;0x00100001;;;WD)";

}  // namespace

bool RandomName(std::string& name) {
  std::uint64_t random = 0;
  if (!::RtlGenRandom(&random, sizeof random)) return false;
  name = kTempPrefix;
  while (name.size() < kTempNameSize) {
    name += kNameDigits[random & 31];
    random >>= 5;
  }
  return true;
}

bool IsTempName(std::string_view name) {
  return name.size() == kTempNameSize && name.substr(0, kTempPrefix.size()) == kTempPrefix &&
         name.find_first_not_of(kNameDigits, kTempPrefix.size()) == std::string_view::npos;
}

std::uint64_t Ticks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

const FsRedirectionOff::Switch& FsRedirectionOff::System() {
  static const Switch calls = [] {
    Switch found;
    if constexpr (sizeof(void*) == 4) {
      found.disable = Kernel32Function<decltype(found.disable)>("Wow64DisableWow64FsRedirection");
      found.revert = Kernel32Function<decltype(found.revert)>("Wow64RevertWow64FsRedirection");
    }
    return found;
  }();
  return calls;
}

FsRedirectionOff::FsRedirectionOff(const Switch& calls) noexcept : revert_(calls.revert) {
  if (calls.disable == nullptr || revert_ == nullptr) {
    revert_ = nullptr;
    return;
  }
  const DWORD error = ::GetLastError();
  // Fails where the process is not redirected (32-bit Windows): nothing to turn back.
  if (!calls.disable(&old_)) revert_ = nullptr;
  ::SetLastError(error);
}

FsRedirectionOff::~FsRedirectionOff() noexcept {
  if (revert_ == nullptr) return;
  // The code of the last call in its scope is still to be read.
  const DWORD error = ::GetLastError();
  revert_(old_);
  ::SetLastError(error);
}

BOOL SetFileInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size) {
  using Function = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  static const auto function = Kernel32Function<Function>("SetFileInformationByHandle");
  if (function == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  return function(file, kind, info, size);
}

void DeleteOnClose(HANDLE file) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  SetFileInfo(file, FileDispositionInfo, &info, sizeof info);
}

std::wstring Widen(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(ClampToDword(bytes.size()));
  const int length =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                            length) != length) {
    return {};
  }
  return wide;
}

std::u16string_view AsU16(std::wstring_view text) {
  return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

std::optional<std::string> ExactAnsi(std::u16string_view text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(ClampToDword(text.size()));
  // UTF-8 takes neither the flag nor the used-default question (it has no default
  // character); the way back catches what it replaces.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* const askDefault = utf8 ? nullptr : &usedDefault;
  const int size =
      ::WideCharToMultiByte(CP_ACP, flags, wide, length, nullptr, 0, nullptr, askDefault);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (::WideCharToMultiByte(CP_ACP, flags, wide, length, bytes.data(), size, nullptr, askDefault) !=
          size ||
      usedDefault || AsU16(Widen(bytes)) != text) {
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::u16string> ShortPath(std::u16string_view path) {
  const std::wstring name(reinterpret_cast<const wchar_t*>(path.data()), path.size());
  const FsRedirectionOff noRedirection;
  const DWORD size = ::GetShortPathNameW(name.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring shortened(size, L'\0');
  const DWORD length = ::GetShortPathNameW(name.c_str(), shortened.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  shortened.resize(length);
  return std::u16string(AsU16(shortened));
}

bool OwnedByUs(HANDLE file) {
  std::vector<unsigned char> descriptor;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (ReadSecurity(file, OWNER_SECURITY_INFORMATION, descriptor) != 0 ||
      !::GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) || owner == nullptr) {
    return false;
  }
  const std::vector<unsigned char> user = TokenPart(TokenUser);
  const std::vector<unsigned char> creator = TokenPart(TokenOwner);
  return (!user.empty() &&
          ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) ||
         (!creator.empty() &&
          ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(creator.data())->Owner));
}

bool IsLink(const std::string& path, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return false;
  }
  WIN32_FIND_DATAA found;
  const UniqueFind find(::FindFirstFileA(path.c_str(), &found));
  // Its kind unknown (Wine gives no tag), it counts as a link.
  return !find || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
         found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0);
}

SysError CheckOpenedFile(HANDLE file, const std::string& path) {
  if (::GetFileType(file) != FILE_TYPE_DISK) return kErrorNotRegularFile;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) return ::GetLastError();
  return IsLink(path, info.dwFileAttributes) ? kErrorLinkRefused : 0;
}

SysError SameFile(HANDLE file, const std::string& path) {
  // Attributes only: no share mode keeps this out.
  const UniqueHandle named(::CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  if (!named || !::GetFileInformationByHandle(file, &a) ||
      !::GetFileInformationByHandle(named.Get(), &b)) {
    return ERROR_FILE_NOT_FOUND;
  }
  const bool same = a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  return same ? 0 : ERROR_FILE_NOT_FOUND;
}

SysError TakeOver(HANDLE existing, HANDLE temp) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(existing, &info)) return ::GetLastError();
  // Windows opens a read-only file for nobody's writing; Wine run as root does.
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  std::vector<unsigned char> descriptor;
  const SECURITY_INFORMATION all =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (const SysError error = ReadSecurity(existing, all, descriptor)) return error;
  if (!::SetKernelObjectSecurity(temp, all, descriptor.data()) &&
      !::SetKernelObjectSecurity(temp, DACL_SECURITY_INFORMATION, descriptor.data())) {
    return ::GetLastError();
  }
  FILE_BASIC_INFO basic{};  // times 0: unchanged
  basic.FileAttributes = info.dwFileAttributes & kKeptAttributes;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInfo(temp, FileBasicInfo, &basic, sizeof basic) ? 0 : ::GetLastError();
}

std::wstring NtPath(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) {
    return L"\\??\\" + full.substr(4);
  }
  if (full.rfind(L"\\\\", 0) == 0) return L"\\??\\UNC\\" + full.substr(2);
  return L"\\??\\" + full;
}

SysError OpenLockMutex(std::string_view upperFullPath, UniqueHandle& mutex) {
  const std::string name = LockName(upperFullPath);
  for (int attempt = 0; attempt < 8; ++attempt) {
    mutex = UniqueHandle(::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
    if (mutex) return 0;
    DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return error;
    UniqueLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kLockSecurity, SDDL_REVISION_1,
                                                                descriptor.Out<void>(), nullptr)) {
      return ::GetLastError();
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
    mutex = UniqueHandle(::CreateMutexA(&attributes, FALSE, name.c_str()));
    if (mutex) return 0;
    // Made by another run since the open, with rights for all but the full access asked
    // here: open it again.
    error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED) return error;
  }
  return ERROR_ACCESS_DENIED;
}

}  // namespace lw::win32
