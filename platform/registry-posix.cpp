#include "platform/registry-posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/ascii_case.h"
#include "platform/util-posix.h"

namespace lw::posix {
namespace {

// What an access asks for: reading, writing, or both (GENERIC_ALL is both).
constexpr std::uint32_t kReadRights =
    kKeyQueryValue | kKeyEnumerateSubKeys | kKeyNotify | kReadControl | kGenericRead | kGenericAll;
constexpr std::uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey | kKeyCreateLink | kDelete |
                                       kWriteDac | kWriteOwner | kGenericWrite | kGenericAll;
constexpr char kTypesDir[] = ".types";

SysError RegistryError(int error) {
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
  return !name.empty() && name != "." && name != ".." && !EqualIgnoringAsciiCase(name, kTypesDir) &&
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
    if (EqualIgnoringAsciiCase(entry->d_name, name)) return entry->d_name;
  }
  return {};
}

// Replaces `dir`/`name` by a file holding `bytes`, written beside it under a random name
// in `scratch` and renamed into place, so a reader never sees half a value.
SysError StoreFile(const std::string& dir, const std::string& name, const std::string& scratch,
                   std::string_view bytes) {
  std::string temp;
  const UniqueFd file(CreateUnique(scratch + "/.~", 0666, temp));
  if (!file) return RegistryError(errno);
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const ssize_t done = ::write(file.get(), rest.data(), rest.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      const SysError status = RegistryError(done < 0 ? errno : ENOSPC);
      ::unlink(temp.c_str());
      return status;
    }
    rest.remove_prefix(static_cast<std::size_t>(done));
  }
  if (::rename(temp.c_str(), (dir + "/" + name).c_str()) != 0) {
    const SysError status = RegistryError(errno);
    ::unlink(temp.c_str());
    return status;
  }
  return 0;
}

}  // namespace

PosixRegistry::PosixRegistry() {
  const char* programData = std::getenv("ProgramData");
  if (programData != nullptr && programData[0] != '\0') {
    root_ = NativePath(programData) + "/Registry";
  }
}

SysError PosixRegistry::CreateKey(RegKey base, std::string_view subKey, std::uint32_t access,
                                  RegKey& key) {
  return OpenOrCreate(base, subKey, access, true, key);
}

SysError PosixRegistry::OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                                RegKey& key) {
  return OpenOrCreate(base, subKey, access, false, key);
}

SysError PosixRegistry::SetValue(RegKey key, std::string_view name, std::uint32_t type,
                                 std::string_view data) {
  std::string dir;
  std::uint32_t access = 0;
  const SysError status = KeyDirectory(key, dir, access);
  if (status != 0) return status;
  if ((access & kKeySetValue) == 0) return kErrorAccessDenied;
  if (!IsStorableName(name)) return kErrorInvalidParameter;
  std::string stored = FindEntry(dir, name);
  if (stored.empty()) stored = name;
  const std::string types = dir + "/" + kTypesDir;
  if (::mkdir(types.c_str(), 0777) != 0 && errno != EEXIST) return RegistryError(errno);
  if (const SysError typeStatus = StoreFile(types, stored, types, std::to_string(type) + "\n");
      typeStatus != 0) {
    return typeStatus;
  }
  return StoreFile(dir, stored, types, data);
}

void PosixRegistry::CloseKey(RegKey key) {
  keys_.erase(key);
}

SysError PosixRegistry::ConnectRegistry(std::string_view, RegKey, RegKey&) {
  return kErrorBadNetPath;  // no remote registries here
}

SysError PosixRegistry::KeyDirectory(RegKey key, std::string& dir, std::uint32_t& access) const {
  if (key == kHkeyCurrentUser || key == kHkeyLocalMachine) {
    if (root_.empty()) return kErrorPathNotFound;
    dir = root_ + (key == kHkeyLocalMachine ? "/HKEY_LOCAL_MACHINE" : "/HKEY_CURRENT_USER");
    access = kKeyAllAccess;
    return 0;
  }
  const auto it = keys_.find(key);
  if (it == keys_.end()) return kErrorInvalidHandle;
  dir = it->second.dir;
  access = it->second.access;
  return 0;
}

SysError PosixRegistry::OpenOrCreate(RegKey base, std::string_view subKey, std::uint32_t access,
                                     bool create, RegKey& key) {
  std::string dir;
  std::uint32_t baseAccess = 0;
  if (const SysError status = KeyDirectory(base, dir, baseAccess); status != 0) return status;
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
  key = static_cast<RegKey>(nextKey_++);
  keys_[key] = {dir, access};
  return 0;
}

}  // namespace lw::posix
