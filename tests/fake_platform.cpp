#include "tests/fake_platform.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/ascii_case.h"
#include "platform/paths.h"

namespace lw {
namespace {

// The write bits that KEY_READ lacks (KEY_WRITE also holds READ_CONTROL, which KEY_READ
// shares).
constexpr std::uint32_t kKeyWrite = kKeySetValue | kKeyCreateSubKey;

std::string Upper(std::string_view text) {
  std::string out(text);
  AsciiUpperInPlace(out.data(), out.size());
  return out;
}

}  // namespace

void FakePlatform::AddResource(std::string name, std::uint32_t type, std::string bytes) {
  resources_[{Upper(name), type}] = std::move(bytes);
}

void FakePlatform::WriteLine(std::string_view line) {
  lines.emplace_back(line);
  events.push_back("line " + std::string(line));
}

void FakePlatform::Sleep(std::uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  clockMs += milliseconds;
  events.push_back("sleep " + std::to_string(milliseconds));
}

std::vector<std::string> FakePlatform::FileCalls() const {
  std::vector<std::string> found;
  for (const std::string& event : events) {
    if (event.rfind("line ", 0) != 0 && event.rfind("sleep ", 0) != 0) found.push_back(event);
  }
  return found;
}

std::string FakePlatform::ReadLine() {
  ++readLineCalls;
  if (input.empty()) return {};
  std::string line = input.front();
  input.erase(input.begin());
  return line;
}

SysError FakePlatform::AllocateAdminsSid(SidHandle& sid) {
  calls.push_back("AllocateAdminsSid");
  if (sidAllocationFails) return kErrorAccessDenied;
  liveSid_ = SidHandle{0x5150};
  sid = liveSid_;
  return 0;
}

SysError FakePlatform::CheckTokenMembership(SidHandle sid, bool& member) {
  calls.push_back("CheckTokenMembership");
  if (sid != liveSid_ || sid == kNoSid) return kErrorInvalidHandle;
  if (membershipCallFails) return kErrorAccessDenied;
  member = isAdmin;
  return 0;
}

void FakePlatform::FreeSid(SidHandle sid) {
  calls.push_back(sid == liveSid_ && sid != kNoSid ? "FreeSid" : "FreeSid(bad)");
  liveSid_ = kNoSid;
}

std::string FakePlatform::KeyPath(RegKey base, std::string_view subKey) const {
  std::string path;
  if (base == kHkeyCurrentUser) {
    path = "HKEY_CURRENT_USER";
  } else if (base == kHkeyLocalMachine) {
    path = "HKEY_LOCAL_MACHINE";
  } else {
    const auto it = regHandles_.find(base);
    if (it == regHandles_.end()) return {};
    path = it->second.path;
  }
  if (!subKey.empty()) path += "\\" + Upper(subKey);
  return path;
}

std::optional<FakePlatform::RegValue> FakePlatform::RegistryValue(const std::string& keyPath,
                                                                  const std::string& name) const {
  const auto key = regValues.find(Upper(keyPath));
  if (key == regValues.end()) return std::nullopt;
  // Value names match in any letter case, as the registry's do.
  for (const auto& [stored, value] : key->second) {
    if (Upper(stored) == Upper(name)) return value;
  }
  return std::nullopt;
}

SysError FakePlatform::CreateKey(RegKey base, std::string_view subKey, std::uint32_t access,
                                 RegKey& key) {
  const std::string path = KeyPath(base, subKey);
  calls.push_back("CreateKey " + path + " " + std::to_string(access));
  if (path.empty()) return kErrorInvalidHandle;
  if (createKeyStatus != 0) return createKeyStatus;
  if ((access & kKeyWrite) != 0 && regReadOnlyKeys.count(path) != 0) return kErrorAccessDenied;
  for (std::size_t pos = path.find('\\'); pos != std::string::npos;
       pos = path.find('\\', pos + 1)) {
    regKeys.insert(path.substr(0, pos));
  }
  regKeys.insert(path);
  key = static_cast<RegKey>(nextKey_++);
  regHandles_[key] = {path, access};
  return 0;
}

SysError FakePlatform::OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                               RegKey& key) {
  const std::string path = KeyPath(base, subKey);
  calls.push_back("OpenKey " + path + " " + std::to_string(access));
  if (path.empty()) return kErrorInvalidHandle;
  if (openKeyStatus != 0) return openKeyStatus;
  const bool predefined = path == "HKEY_CURRENT_USER" || path == "HKEY_LOCAL_MACHINE";
  if (!predefined && regKeys.count(path) == 0) return kErrorFileNotFound;
  if ((access & kKeyWrite) != 0 && regReadOnlyKeys.count(path) != 0) return kErrorAccessDenied;
  key = static_cast<RegKey>(nextKey_++);
  regHandles_[key] = {path, access};
  return 0;
}

SysError FakePlatform::SetValue(RegKey key, std::string_view name, std::uint32_t type,
                                std::string_view data) {
  calls.push_back("SetValue " + std::string(name));
  const auto it = regHandles_.find(key);
  if (it == regHandles_.end()) return kErrorInvalidHandle;
  if (setValueStatus != 0) return setValueStatus;
  if ((it->second.access & kKeyWrite) == 0) return kErrorAccessDenied;
  // A value written again under another letter case keeps its first name.
  auto& values = regValues[it->second.path];
  std::string stored(name);
  for (const auto& [existing, value] : values) {
    if (Upper(existing) == Upper(stored)) stored = existing;
  }
  values[stored] = {type, std::string(data)};
  return 0;
}

void FakePlatform::CloseKey(RegKey key) {
  calls.push_back(regHandles_.erase(key) != 0 ? "CloseKey" : "CloseKey(bad)");
}

SysError FakePlatform::ConnectRegistry(std::string_view machine, RegKey root, RegKey& key) {
  calls.push_back("ConnectRegistry " + std::string(machine));
  if (connectStatus != 0) return connectStatus;
  key = static_cast<RegKey>(nextKey_++);
  regHandles_[key] = {KeyPath(root, {}), kKeyAllAccess};
  return 0;
}

SysError FakePlatform::GetEnv(std::string_view name, std::string& value) {
  const std::string variable(name);
  if (envNotInCodePage.count(variable) != 0) return kErrorNotInCodePage;
  const auto it = env.find(variable);
  value = it == env.end() ? std::string() : it->second;
  return 0;
}

void FakePlatform::TrustFolder(std::string_view folder) {
  events.push_back("TrustFolder " + std::string(folder));
}

bool FakePlatform::IsFullPath(std::string_view path) {
  return IsFullWindowsPath(path, *this);
}

void FakePlatform::CreateDirectories(std::string_view path) {
  std::string folder(path);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  std::vector<std::string> missing;
  for (; !folder.empty() && dirs.count(folder) == 0; folder = ParentFolder(folder, *this)) {
    // Nothing below a file, through a link, or in a folder closed to new entries.
    if (files.count(folder) != 0 || ThroughLink(folder) != 0 ||
        readOnlyDirs.count(ParentFolder(folder, *this)) != 0) {
      return;
    }
    missing.push_back(folder);
  }
  dirs.insert(missing.begin(), missing.end());
}

void FakePlatform::AddFile(const std::string& path, std::string bytes) {
  CreateDirectories(ParentFolder(path, *this));
  files[path] = std::move(bytes);
}

void FakePlatform::RenameFile(const std::string& from, const std::string& to) {
  const std::uint64_t index = IdentityOf(from).index;
  files[to] = files[from];
  files.erase(from);
  fileIndexes_[to] = index;
  fileIndexes_.erase(from);
}

std::vector<std::string> FakePlatform::FilesContaining(const std::string& part) const {
  std::vector<std::string> found;
  for (const auto& [path, bytes] : files) {
    if (path.find(part) != std::string::npos) found.push_back(path);
  }
  return found;
}

SysError FakePlatform::ThroughLink(const std::string& path) const {
  for (const std::string& link : links) {
    if (path == link || path.rfind(link + "\\", 0) == 0) return kErrorLinkRefused;
  }
  return 0;
}

SysError FakePlatform::HeldOrAway(const std::string& path) const {
  for (const std::string& volume : unreachableVolumes) {
    if (path.rfind(volume + "\\", 0) == 0) return kErrorVolumeUnreachable;
  }
  if (lockedFiles.count(path) != 0) return kErrorSharingViolation;
  const auto held = heldUntil.find(path);
  return held != heldUntil.end() && clockMs < held->second ? kErrorSharingViolation : 0;
}

FileIdentity FakePlatform::IdentityOf(const std::string& path) {
  auto [index, made] = fileIndexes_.try_emplace(path, nextIndex_);
  if (made) ++nextIndex_;
  return {1, index->second};
}

FileStamp FakePlatform::StampOf(const std::string& path) {
  const FileIdentity identity = IdentityOf(path);
  const std::string& bytes = files[path];
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return {identity, bytes.size(), hash};
}

bool FakePlatform::IsOpen(const std::string& path) const {
  return std::any_of(fileHandles_.begin(), fileHandles_.end(),
                     [&](const auto& handle) { return handle.second.path == path; });
}

SysError FakePlatform::LockFile(std::string_view path, std::uint32_t, LockHandle& lock) {
  const std::string name(path);
  events.push_back("LockFile " + name);
  if (busyFiles.count(name) != 0) return kErrorLockTimeout;
  // No folder, or one this user may not make files in: nothing to hold.
  if (dirs.count(ParentFolder(name, *this)) == 0 ||
      readOnlyDirs.count(ParentFolder(name, *this)) != 0) {
    lock = kNoLock;
    return 0;
  }
  lock = static_cast<LockHandle>(nextLock_++);
  locks_[lock] = name;
  return 0;
}

void FakePlatform::UnlockFile(LockHandle lock) {
  const auto it = locks_.find(lock);
  events.push_back("UnlockFile " + (it == locks_.end() ? std::string("(bad)") : it->second));
  if (it != locks_.end()) locks_.erase(it);
}

SysError FakePlatform::OpenForRead(std::string_view path, FileHandle& file) {
  const std::string name(path);
  events.push_back("OpenForRead " + name);
  file = kInvalidFile;
  if (const SysError error = ThroughLink(name)) return error;
  if (const auto it = openErrors.find(name); it != openErrors.end()) return it->second;
  if (const SysError error = HeldOrAway(name)) return error;
  if (dirs.count(name) != 0 || files.count(name) == 0) return 0;
  file = static_cast<FileHandle>(nextFile_++);
  fileHandles_[file] = {name, false, 0, {}};
  return 0;
}

SysError FakePlatform::GetFileSize(FileHandle file, std::uint64_t& size) {
  const auto it = fileHandles_.find(file);
  if (it == fileHandles_.end()) return kErrorInvalidHandle;
  size = files[it->second.path].size();
  return 0;
}

SysError FakePlatform::GetFileStamp(FileHandle file, FileStamp& stamp) {
  const auto it = fileHandles_.find(file);
  if (it == fileHandles_.end()) return kErrorInvalidHandle;
  stamp = StampOf(it->second.path);
  return 0;
}

SysError FakePlatform::ReadFile(FileHandle file, char* buffer, std::size_t size,
                                std::size_t& done) {
  const auto it = fileHandles_.find(file);
  if (it == fileHandles_.end()) return kErrorInvalidHandle;
  const std::string& bytes = files[it->second.path];
  const std::size_t start = std::min(it->second.position, bytes.size());
  std::size_t count = std::min(size, bytes.size() - start);
  if (shortReadBy) count -= std::min(count, *shortReadBy);
  std::memcpy(buffer, bytes.data() + start, count);
  it->second.position = start + count;
  done = count;
  return 0;
}

SysError FakePlatform::CreateTempBeside(std::string_view target, FileHandle& file,
                                        std::string& tempPath) {
  events.push_back("CreateTempBeside " + std::string(target));
  if (target.empty()) return kErrorPathNotFound;
  const std::string folder = ParentFolder(target, *this);
  if (const SysError error = ThroughLink(std::string(target))) return error;
  if (!folder.empty() && dirs.count(folder) == 0) return kErrorPathNotFound;
  if (readOnlyDirs.count(folder) != 0) return kErrorAccessDenied;
  tempPath = (folder.empty() ? std::string() : folder + "\\") + "~lw" +
             std::to_string(++nextTemp_) + ".tmp";
  files[tempPath] = {};
  file = static_cast<FileHandle>(nextFile_++);
  fileHandles_[file] = {tempPath, true, 0, {}};
  return 0;
}

SysError FakePlatform::WriteFile(FileHandle file, std::string_view data, std::size_t& done) {
  const auto it = fileHandles_.find(file);
  if (it == fileHandles_.end() || !it->second.writing) return kErrorInvalidHandle;
  std::size_t count = data.size();
  if (diskSpace) {
    count = std::min(count, *diskSpace);
    *diskSpace -= count;
  }
  files[it->second.path].append(data.substr(0, count));
  done = count;
  return count < data.size() ? kErrorDiskFull : 0;
}

SysError FakePlatform::FlushFile(FileHandle file) {
  if (flushFails || fileHandles_.count(file) == 0) return kErrorDiskFull;
  return 0;
}

void FakePlatform::CloseFile(FileHandle file) {
  fileHandles_.erase(file);
}

SysError FakePlatform::ReplaceWith(FileHandle temp, std::string_view tempPath,
                                   std::string_view target, const ExpectedFile& expected) {
  const std::string from(tempPath);
  const std::string to(target);
  events.push_back("ReplaceWith " + to);
  const auto handle = fileHandles_.find(temp);
  if (handle == fileHandles_.end() || handle->second.path != from) return kErrorInvalidHandle;
  if (beforeReplace) beforeReplace(*this, to);
  if (const SysError error = ThroughLink(to)) return error;
  if (replaceFails) return kErrorSharingViolation;
  if (const SysError error = HeldOrAway(to)) return error;
  const bool there = files.count(to) != 0;
  if (dirs.count(to) != 0 || (there && readOnlyFiles.count(to) != 0)) return kErrorAccessDenied;
  if ((expected.kind == ExpectedFile::kNothing && there) ||
      (expected.kind == ExpectedFile::kFile &&
       (!there || StampOf(to) != expected.stamp ||
        (expected.bytes != nullptr && *expected.bytes != files[to])))) {
    return kErrorFileChanged;
  }
  if (there && ownAccessLists.count(to) != 0 &&
      sharesWithoutSecurityRights.count(ParentFolder(to, *this)) != 0) {
    return kErrorAccessDenied;
  }
  RenameFile(from, to);
  handle->second.path = to;
  return 0;
}

SysError FakePlatform::RemoveFile(std::string_view path) {
  const std::string name(path);
  events.push_back("RemoveFile " + name);
  if (files.count(name) == 0) return kErrorFileNotFound;
  // As on Windows: a file that is open cannot be removed.
  if (IsOpen(name)) return kErrorSharingViolation;
  files.erase(name);
  fileIndexes_.erase(name);
  return 0;
}

SysError FakePlatform::IdentifyFile(std::string_view path, std::optional<FileIdentity>& identity) {
  identity.reset();
  const std::string name(path);
  if (const auto it = identities.find(name); it != identities.end()) {
    identity = it->second;
  } else if (files.count(name) != 0 || dirs.count(name) != 0) {
    identity = IdentityOf(name);
  }
  return 0;
}

void FakePlatform::RemoveStaleTemps(std::string_view target) {
  events.push_back("RemoveStaleTemps " + std::string(target));
}

std::string FakePlatform::FullPathName(std::string_view path) {
  if (path.empty() || fullPathFails) return {};
  const bool full = path.size() >= 2 && (path[1] == ':' || path[0] == '\\');
  const std::string given = full ? std::string(path) : "C:\\Work\\" + std::string(path);
  // "." and ".." resolved below the first part (the drive), as GetFullPathNameA does.
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end;; start = end + 1) {
    end = FindSeparator(given, start, kCoreSeparator, *this);
    const std::string part = given.substr(start, end - start);
    if (part == ".." && parts.size() > 1) {
      parts.pop_back();
    } else if (part != "." && part != ".." &&
               (part != "" || parts.empty() || end == std::string::npos)) {
      parts.push_back(part);
    }
    if (end == std::string::npos) break;
  }
  std::string result;
  for (std::size_t i = 0; i < parts.size(); ++i) result += (i == 0 ? "" : "\\") + parts[i];
  return result;
}

std::string FakePlatform::SystemErrorText(SysError error) {
  return "System error " + std::to_string(error) + ".\r\n";
}

bool FakePlatform::IsLeadByte(char byte) const {
  const auto value = static_cast<unsigned char>(byte);
  return std::any_of(leadByteRanges.begin(), leadByteRanges.end(), [value](const auto& range) {
    return value >= range.first && value <= range.second;
  });
}

void FakePlatform::UpperCase(char* bytes, std::size_t size) {
  AsciiUpperInPlace(bytes, size);
}

SysError FakePlatform::FindResourceData(std::string_view name, std::uint32_t type,
                                        std::string_view& data) {
  const auto it = resources_.find({Upper(name), type});
  if (it == resources_.end()) return kErrorResourceNameNotFound;
  data = it->second;
  return 0;
}

}  // namespace lw
