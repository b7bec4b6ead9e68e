#include "platform/files-win32.h"

// windows.h first: these need its types.
#include <ntsecapi.h>

#include <cstddef>
#include <cstring>
#include <optional>
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

// FileRenameInfoEx and its flags (Windows 10 1607), newer than these headers' target.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;
static_assert(offsetof(FILE_RENAME_INFO, RootDirectory) >= sizeof(DWORD));

// Whether the access list has an entry of its own, not one its folder handed down.
bool HasExplicitEntry(const ACL& acl) {
  for (DWORD i = 0; i < acl.AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(const_cast<ACL*>(&acl), i, &ace)) return true;
    if ((static_cast<const ACE_HEADER*>(ace)->AceFlags & INHERITED_ACE) == 0) return true;
  }
  return false;
}

// Opens the temporary file at `path` a second time, for changing its security only (no
// share mode keeps that out), and makes sure it is still the file `temp` wrote.
UniqueHandle ReopenForSecurity(HANDLE temp, const std::string& path, DWORD access) {
  UniqueHandle handle(::CreateFileA(path.c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  if (handle &&
      (!::GetFileInformationByHandle(temp, &a) || !::GetFileInformationByHandle(handle.Get(), &b) ||
       StampOf(a).identity != StampOf(b).identity)) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return UniqueHandle();
  }
  return handle;
}

// Whether the process's token is granted `access` by the security descriptor; none when
// the system cannot tell.
std::optional<bool> TokenGranted(void* descriptor, DWORD access) {
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &opened)) {
    return std::nullopt;
  }
  const UniqueHandle process(opened);
  HANDLE duplicated = nullptr;
  if (!::DuplicateToken(process.Get(), SecurityIdentification, &duplicated)) return std::nullopt;
  const UniqueHandle token(duplicated);
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges{};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!::AccessCheck(descriptor, token.Get(), access, &mapping, &privileges, &privilegesSize,
                     &granted, &status)) {
    return std::nullopt;
  }
  return status != FALSE;
}

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

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {{info.dwVolumeSerialNumber,
           (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow},
          (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
          Ticks(info.ftLastWriteTime)};
}

bool IsExpected(HANDLE file, const ExpectedFile& expected) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info) || StampOf(info) != expected.stamp) return false;
  if (expected.bytes == nullptr) return true;
  // One byte more than expected, to see that there is no more.
  std::string bytes(expected.bytes->size() + 1, '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!::ReadFile(file, bytes.data() + done, ClampToDword(bytes.size() - done), &got, nullptr) ||
        got == 0) {
      break;
    }
    done += got;
  }
  return done == expected.bytes->size() && bytes.compare(0, done, *expected.bytes) == 0;
}

SysError MayWrite(HANDLE file, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) return ::GetLastError();
  // Windows opens a read-only file for nobody's writing; Wine run as root does.
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  // Asked of the access list rather than by opening the file for writing, which would
  // invite a scanner to read it when it closes, just before the replace.
  std::vector<unsigned char> descriptor;
  const SECURITY_INFORMATION all =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (ReadSecurity(file, all, descriptor) == 0) {
    if (const std::optional<bool> granted = TokenGranted(descriptor.data(), FILE_WRITE_DATA)) {
      return *granted ? 0 : ERROR_ACCESS_DENIED;
    }
  }
  const UniqueHandle writable(::CreateFileA(
      path.c_str(), FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return writable ? 0 : ::GetLastError();
}

bool HasOwnAccessList(void* descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL acl = nullptr;
  // What cannot be read counts as its own: carried over, or the save fails.
  if (!::GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted)) {
    return true;
  }
  return (control & SE_DACL_PROTECTED) != 0 || !present || acl == nullptr || acl->AceCount == 0 ||
         HasExplicitEntry(*acl);
}

SysError CarryProtection(HANDLE existing, HANDLE temp, const std::string& tempPath) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(existing, &info)) return ::GetLastError();
  std::vector<unsigned char> descriptor;
  const SECURITY_INFORMATION all =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (const SysError error = ReadSecurity(existing, all, descriptor)) return error;
  // A list of its own must carry over, or the new file would be open to whoever its
  // folder lets in; an inherited one comes from the folder to the new file anyway.
  if (HasOwnAccessList(descriptor.data())) {
    const UniqueHandle dac = ReopenForSecurity(temp, tempPath, WRITE_DAC);
    if (!dac) return ::GetLastError();
    if (!::SetKernelObjectSecurity(dac.Get(), DACL_SECURITY_INFORMATION, descriptor.data())) {
      return ::GetLastError();
    }
  }
  // Owner and group where the process may give them (a file server, or a user without the
  // right to give files away, may not): the access list is what protects the file.
  std::vector<unsigned char> own;
  BOOL defaulted = FALSE;
  PSID owner = nullptr;
  PSID tempOwner = nullptr;
  PSID group = nullptr;
  PSID tempGroup = nullptr;
  if (ReadSecurity(temp, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, own) == 0 &&
      ::GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) &&
      ::GetSecurityDescriptorOwner(own.data(), &tempOwner, &defaulted) &&
      ::GetSecurityDescriptorGroup(descriptor.data(), &group, &defaulted) &&
      ::GetSecurityDescriptorGroup(own.data(), &tempGroup, &defaulted) && owner != nullptr &&
      tempOwner != nullptr &&
      (!::EqualSid(owner, tempOwner) ||
       (group != nullptr && tempGroup != nullptr && !::EqualSid(group, tempGroup)))) {
    if (const UniqueHandle owned = ReopenForSecurity(temp, tempPath, WRITE_OWNER)) {
      ::SetKernelObjectSecurity(owned.Get(), OWNER_SECURITY_INFORMATION, descriptor.data());
      ::SetKernelObjectSecurity(owned.Get(), GROUP_SECURITY_INFORMATION, descriptor.data());
    }
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

SysError RenameOver(HANDLE temp, const std::wstring& full, UniqueHandle& existing,
                    SysError absentError) {
  const std::wstring name = NtPath(full);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* const info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), info->FileNameLength);
  const auto size = static_cast<DWORD>(buffer.size());
  const bool replace = static_cast<bool>(existing);
  if (replace) {
    // Windows 10 1607 and later: the name changes hands while `existing` still keeps
    // writers off the file, and readers that let it be deleted may keep it open.
    const DWORD flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    std::memcpy(buffer.data(), &flags, sizeof flags);  // over ReplaceIfExists and its padding
    if (SetFileInfo(temp, kFileRenameInfoEx, info, size)) return 0;
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
      return kErrorSharingViolation;
    }
    // Older systems and file systems without those semantics: the target must be closed.
    existing = UniqueHandle();
  }
  std::memset(buffer.data(), 0, offsetof(FILE_RENAME_INFO, RootDirectory));
  info->ReplaceIfExists = replace;
  if (SetFileInfo(temp, FileRenameInfo, info, size)) return 0;
  const DWORD error = ::GetLastError();
  // A replaced file that anybody has open cannot go: it is held.
  if (error == ERROR_SHARING_VIOLATION || (replace && error == ERROR_ACCESS_DENIED)) {
    return kErrorSharingViolation;
  }
  if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) return absentError;
  return error;
}

}  // namespace lw::win32
