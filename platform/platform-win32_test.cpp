// What only the Win32 platform does, and what the shared suite needs of it.
#include <windows.h>
// windows.h first: sddl.h needs its types.
#include <sddl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/files-win32.h"
#include "platform/platform_test.h"

namespace lw::platform_test {

const SysError kFileNotFound = kErrorFileNotFound;
const SysError kPathNotFound = kErrorPathNotFound;
const char kExecutableName[] = "linkwright_tests.exe";

void SetEnv(const std::string& name, const char* value) {
  ::SetEnvironmentVariableA(name.c_str(), value);
}

std::optional<bool> ExpectedAdministrator() {
  return std::nullopt;  // Wine's user may or may not count as one
}

struct StdStream::Saved {
  DWORD which;
  HANDLE saved;
  HANDLE file;
};

StdStream::StdStream(Which which, const fs::path& file) {
  static constexpr DWORD kIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  const bool input = which == kIn;
  const DWORD id = kIds[which];
  const HANDLE opened = ::CreateFileW(
      file.c_str(), input ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, input ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  saved_ = std::make_unique<Saved>(Saved{id, ::GetStdHandle(id), opened});
  ::SetStdHandle(id, opened);
}

StdStream::~StdStream() {
  ::SetStdHandle(saved_->which, saved_->saved);
  ::CloseHandle(saved_->file);
}

std::optional<StoredValue> StoredValueOf(const TempDir&, const std::string& keyPath,
                                         const std::string& name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  DWORD size = 0;
  std::optional<StoredValue> value;
  if (::RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    value = StoredValue{type, std::string(size, '\0')};
    ::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(value->data.data()), &size);
  }
  ::RegCloseKey(key);
  return value;
}

void RemoveTestKey(const std::string& key) {
  ::RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\LinkwrightTest");
}

namespace {

// A file handle of the test's own.
class OtherHandle {
 public:
  OtherHandle(const fs::path& path, DWORD access, DWORD share)
      : handle_(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)),
        error_(::GetLastError()) {}
  OtherHandle(const OtherHandle&) = delete;
  OtherHandle& operator=(const OtherHandle&) = delete;
  ~OtherHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  DWORD error() const { return error_; }

 private:
  HANDLE handle_;
  DWORD error_;
};

TEST_F(PlatformFileTest, OpenForReadRefusedWhileAnotherWrites) {
  dir_.Write("rasphone.pbk", "x");
  const OtherHandle writer(dir_.Native("rasphone.pbk"), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(writer.valid());
  FileHandle file = kInvalidFile;
  EXPECT_EQ(platform_->OpenForRead(dir_.CorePath("rasphone.pbk"), file), kErrorSharingViolation);
  EXPECT_EQ(file, kInvalidFile);
}

TEST_F(PlatformFileTest, OpenForReadShutsOutWritersOnly) {
  dir_.Write("rasphone.pbk", "x");
  FileHandle file = kInvalidFile;
  ASSERT_EQ(platform_->OpenForRead(dir_.CorePath("rasphone.pbk"), file), 0u);
  ASSERT_NE(file, kInvalidFile);
  const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const OtherHandle writer(dir_.Native("rasphone.pbk"), GENERIC_WRITE, shareAll);
  EXPECT_FALSE(writer.valid());
  EXPECT_EQ(writer.error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(OtherHandle(dir_.Native("rasphone.pbk"), GENERIC_READ, shareAll).valid());
  platform_->CloseFile(file);
}

TEST_F(PlatformSaveTest, ReplaceRefusedWhileTargetIsOpenKeepsEverything) {
  dir_.Write("rasphone.pbk", "old contents");
  const std::string target = dir_.CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "new");
  {
    const OtherHandle reader(dir_.Native("rasphone.pbk"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader.valid());
    EXPECT_NE(Replace(temp, target), 0u);
  }
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "old contents");
  EXPECT_EQ(ReadThrough(temp.path), "new");
  EXPECT_EQ(FolderEntries().size(), 2u);  // target and temporary file, no backup
}

// A pipe or a device in a phonebook's place is refused, not read from.
TEST_F(PlatformFileTest, OpenForReadRefusesPipesAndDevices) {
  const std::string pipe = "\\\\.\\pipe\\lw-test-" + std::to_string(::GetCurrentProcessId());
  const HANDLE server =
      ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  for (const std::string& path : {pipe, std::string("NUL")}) {
    FileHandle file = kInvalidFile;
    EXPECT_EQ(platform_->OpenForRead(path, file), kErrorNotRegularFile) << path;
    EXPECT_EQ(file, kInvalidFile) << path;
  }
  ::CloseHandle(server);
}

// --- Holds on files ---

// The short (8.3) form of a path, where the system keeps one.
std::string ShortForm(const std::string& path) {
  char shortened[MAX_PATH];
  const DWORD size = ::GetShortPathNameA(path.c_str(), shortened, MAX_PATH);
  return size == 0 || size >= MAX_PATH ? std::string() : std::string(shortened, size);
}

TEST_F(PlatformFileTest, LockKeepsOtherRunsOutUntilUnlocked) {
  const std::string path = dir_.CorePath("rasphone.pbk");
  fs::create_directory(dir_.Native("sub"));
  LockHandle held = kNoLock;
  ASSERT_EQ(platform_->LockFile(path, 0, held), 0u);
  ASSERT_NE(held, kNoLock);
  // The same file however it is spelled, the folder's other files with it; another
  // folder is free.
  const std::string shortFolder = ShortForm(dir_.CorePath());
  const struct {
    std::string path;
    SysError expected;
  } cases[] = {
      {path, kErrorLockTimeout},
      {dir_.CorePath("RASPHONE.PBK"), kErrorLockTimeout},
      {dir_.CorePath("sub\\..\\rasphone.pbk"), kErrorLockTimeout},
      {"\\\\?\\" + path, kErrorLockTimeout},
      {shortFolder.empty() ? path : shortFolder + "\\rasphone.pbk", kErrorLockTimeout},
      {dir_.CorePath("other.pbk"), kErrorLockTimeout},
      {dir_.CorePath("sub\\rasphone.pbk"), 0},
  };
  for (const auto& c : cases) {
    LockHandle lock = kNoLock;
    EXPECT_EQ(platform_->LockFile(c.path, 20, lock), c.expected) << c.path;
    EXPECT_EQ(lock != kNoLock, c.expected == 0) << c.path;
    platform_->UnlockFile(lock);
  }
  platform_->UnlockFile(held);
  LockHandle lock = kNoLock;
  EXPECT_EQ(platform_->LockFile(path, 0, lock), 0u);
  platform_->UnlockFile(lock);
  // Nothing stays behind: the lock file goes with its last handle.
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"sub"});
}

// A lock file that outlived its holder (a power cut) holds nothing; a folder that is not
// there yet holds nothing to lock.
TEST_F(PlatformFileTest, LockFileLeftBehindIsTakenAtOnce) {
  dir_.Write("~lw.lock", "");
  LockHandle lock = kNoLock;
  EXPECT_EQ(platform_->LockFile(dir_.CorePath("rasphone.pbk"), 0, lock), 0u);
  EXPECT_NE(lock, kNoLock);
  platform_->UnlockFile(lock);
  EXPECT_TRUE(FolderEntries().empty());
  EXPECT_EQ(platform_->LockFile(dir_.CorePath("none\\rasphone.pbk"), 0, lock), 0u);
  EXPECT_EQ(lock, kNoLock);
}

// --- Saving ---

// The DACL of a file as SDDL; empty when it cannot be read.
std::string DaclOf(const fs::path& path) {
  std::string buffer(4096, '\0');
  DWORD needed = 0;
  if (!::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(),
                          static_cast<DWORD>(buffer.size()), &needed)) {
    return {};
  }
  char* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(
          buffer.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return {};
  }
  std::string dacl(text);
  ::LocalFree(text);
  return dacl;
}

bool SetDacl(const fs::path& path, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return false;
  }
  const bool done = ::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
  ::LocalFree(descriptor);
  return done;
}

// Only a list of the phonebook's own is carried over to its replacement (which needs rights
// a file server may not give); an inherited one comes to the new file from the folder.
TEST(OwnAccessListTest, ProtectedExplicitOrMissingListsAreTheFilesOwn) {
  const struct {
    const char* sddl;
    bool own;
  } cases[] = {
      {"D:AI(A;ID;FA;;;WD)(A;ID;FR;;;BU)", false},
      {"D:P(A;;FA;;;WD)", true},
      {"D:PAI(A;ID;FA;;;WD)", true},
      {"D:AI(A;;FR;;;BU)(A;ID;FA;;;WD)", true},
      {"D:(D;ID;FW;;;BU)", false},
      {"D:NO_ACCESS_CONTROL", true},
      {"D:", true},
      {"O:BA", true},
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1,
                                                                       &descriptor, nullptr))
        << c.sddl;
    EXPECT_EQ(win32::HasOwnAccessList(descriptor), c.own) << c.sddl;
    ::LocalFree(descriptor);
  }
}

TEST_F(PlatformSaveTest, ReplaceKeepsAttributesAndAcl) {
  dir_.Write("fresh.pbk", "");
  dir_.Write("rasphone.pbk", "old");
  // A DACL no new file gets, so that only a copy can bring it over.
  ASSERT_TRUE(SetDacl(dir_.Native("rasphone.pbk"), "D:P(A;;FA;;;WD)(A;;FR;;;BU)"));
  const std::string dacl = DaclOf(dir_.Native("rasphone.pbk"));
  ASSERT_FALSE(dacl.empty());
  ASSERT_NE(dacl, DaclOf(dir_.Native("fresh.pbk")));
  const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(::SetFileAttributesW(dir_.Native("rasphone.pbk").c_str(), attributes));
  const std::string target = dir_.CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "new");
  ASSERT_EQ(Replace(temp, target), 0u);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "new");
  EXPECT_EQ(::GetFileAttributesW(dir_.Native("rasphone.pbk").c_str()), attributes);
  EXPECT_EQ(DaclOf(dir_.Native("rasphone.pbk")), dacl);
  EXPECT_EQ(FolderEntries(), (std::set<std::string>{"fresh.pbk", "rasphone.pbk"}));
}

// A reader holding the phonebook (the RAS service re-reads it after each change, a scanner
// reads it) is reported as a holder, for the caller to wait; a writer too, even before
// the rename is tried.
TEST_F(PlatformSaveTest, ReplaceReportsHoldersAndKeepsTheTarget) {
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const struct {
    std::string name;
    DWORD access;
    DWORD share;
  } cases[] = {
      {"reader sharing all but deleting", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {"reader sharing nothing", GENERIC_READ, 0},
      {"writer", GENERIC_WRITE, all},
  };
  for (const auto& c : cases) {
    dir_.Write("rasphone.pbk", "old");
    const std::string target = dir_.CorePath("rasphone.pbk");
    const Temp temp = WriteTemp(target, "new");
    {
      const OtherHandle holder(dir_.Native("rasphone.pbk"), c.access, c.share);
      ASSERT_TRUE(holder.valid()) << c.name;
      EXPECT_EQ(Replace(temp, target), kErrorSharingViolation) << c.name;
    }
    EXPECT_EQ(dir_.Read("rasphone.pbk"), "old") << c.name;
    EXPECT_EQ(platform_->RemoveFile(temp.path), 0u) << c.name;
  }
}

TEST_F(PlatformSaveTest, ReplaceRefusesAReadOnlyTargetAndKeepsIt) {
  dir_.Write("rasphone.pbk", "old");
  const std::wstring native = dir_.Native("rasphone.pbk").wstring();
  ASSERT_TRUE(::SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::string target = dir_.CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "new");
  EXPECT_EQ(Replace(temp, target), kErrorAccessDenied);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "old");
  EXPECT_NE(::GetFileAttributesW(native.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  // The temporary file stays for the caller to remove by name.
  EXPECT_EQ(platform_->RemoveFile(temp.path), 0u);
  ::SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PlatformSaveTest, ReplaceRefusesATargetTheAclKeepsFromWriting) {
  dir_.Write("rasphone.pbk", "old");
  // Asked of the list itself: Wine as root would open the file for writing anyway.
  ASSERT_TRUE(SetDacl(dir_.Native("rasphone.pbk"), "D:P(A;;FR;;;WD)"));
  const std::string target = dir_.CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "new");
  EXPECT_EQ(Replace(temp, target), kErrorAccessDenied);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "old");
  EXPECT_EQ(platform_->RemoveFile(temp.path), 0u);
}

// 255 characters, as Windows names a phonebook in a deep profile: the temporary file's
// name is no longer, so it saves.
TEST_F(PlatformSaveTest, PhonebookPathOf255CharactersSaves) {
  const std::string base = dir_.CorePath();
  const std::string suffix = "\\rasphone.pbk";
  std::string folder = base;
  while (folder.size() + suffix.size() < 255) {
    folder += '\\';
    folder.append(std::min<std::size_t>(60, 254 - folder.size() - suffix.size() + 1), 'd');
  }
  const std::string target = folder + suffix;
  ASSERT_EQ(target.size(), 255u);
  platform_->CreateDirectories(folder);
  LockHandle lock = kNoLock;
  ASSERT_EQ(platform_->LockFile(target, 0, lock), 0u);
  for (const char* bytes : {"[A]\r\n", "[B]\r\n"}) {
    const Temp temp = WriteTemp(target, bytes);
    ASSERT_EQ(Replace(temp, target), 0u) << bytes;
    EXPECT_EQ(ReadThrough(target), bytes);
  }
  platform_->UnlockFile(lock);
}

// --- Temporary files left by killed runs ---

void SetLastWrite(const fs::path& path, int minutesAgo) {
  const HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart -= static_cast<ULONGLONG>(minutesAgo) * 60 * 10000000;
  const FILETIME then{time.LowPart, time.HighPart};
  EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &then));
  ::CloseHandle(file);
}

TEST_F(PlatformSaveTest, RemoveStaleTempsTakesOnlyOldTemporaryFiles) {
  const struct {
    std::string name;
    int minutesAgo;
    bool removed;
  } cases[] = {
      {"~lw012345678", 11, true},   {"~lwabcdefghv", 600, true},
      {"~lw0123456aa", 9, false},    // a run may still be at it
      {"~lw01234567", 60, false},    // too short
      {"~lw0123456789", 60, false},  // too long
      {"~lw01234567w", 60, false},   // not of the alphabet
      {"~LWabcdefgh0", 60, false},   // not of the naming (letter case kept as made)
      {"x~lw01234567", 60, false},  {"rasphone.pbk", 60, false},
  };
  for (const auto& c : cases) {
    dir_.Write(c.name, "x");
    SetLastWrite(dir_.Native(c.name), c.minutesAgo);
  }
  // Old, but a folder, or still held open by a run.
  fs::create_directory(dir_.Native("~lwfolder000"));
  SetLastWrite(dir_.Native("~lwfolder000"), 60);
  dir_.Write("~lwheld00000", "x");
  SetLastWrite(dir_.Native("~lwheld00000"), 60);
  const OtherHandle held(dir_.Native("~lwheld00000"), GENERIC_WRITE, FILE_SHARE_READ);
  ASSERT_TRUE(held.valid());

  platform_->RemoveStaleTemps(dir_.CorePath("rasphone.pbk"));
  for (const auto& c : cases) EXPECT_EQ(fs::exists(dir_.Native(c.name)), !c.removed) << c.name;
  EXPECT_TRUE(fs::is_directory(dir_.Native("~lwfolder000")));
  EXPECT_TRUE(fs::exists(dir_.Native("~lwheld00000")));
}

TEST_F(PlatformSaveTest, RemoveStaleTempsLeavesOtherUsersFiles) {
  dir_.Write("~lw012345678", "x");
  SetLastWrite(dir_.Native("~lw012345678"), 60);
  PSECURITY_DESCRIPTOR system = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA("O:SY", SDDL_REVISION_1,
                                                                     &system, nullptr));
  const bool set =
      ::SetFileSecurityW(dir_.Native("~lw012345678").c_str(), OWNER_SECURITY_INFORMATION, system);
  ::LocalFree(system);
  std::string buffer(256, '\0');
  DWORD needed = 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  char* text = nullptr;
  if (!set ||
      !::GetFileSecurityW(dir_.Native("~lw012345678").c_str(), OWNER_SECURITY_INFORMATION,
                          buffer.data(), static_cast<DWORD>(buffer.size()), &needed) ||
      !::GetSecurityDescriptorOwner(buffer.data(), &owner, &defaulted) ||
      !::ConvertSidToStringSidA(owner, &text) || std::string(text) != "S-1-5-18") {
    if (text != nullptr) ::LocalFree(text);
    GTEST_SKIP() << "this process cannot give a file another owner (Wine keeps none)";
  }
  ::LocalFree(text);
  platform_->RemoveStaleTemps(dir_.CorePath("rasphone.pbk"));
  EXPECT_TRUE(fs::exists(dir_.Native("~lw012345678")));
}

// --- Links ---

// Makes `link` a link to the folder `target`; false where this process cannot.
bool MakeFolderLink(const fs::path& link, const fs::path& target) {
  using Function = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
  const auto create = reinterpret_cast<Function>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkW")));
  const DWORD kDirectory = 1;
  const DWORD kUnprivileged = 2;
  if (create == nullptr || (!create(link.c_str(), target.c_str(), kDirectory | kUnprivileged) &&
                            !create(link.c_str(), target.c_str(), kDirectory))) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_F(PlatformFileTest, LinksBelowTheTrustedFolderAreRefused) {
  fs::create_directories(dir_.Native("trusted/real"));
  dir_.Write("trusted/real/rasphone.pbk", "old");
  if (!MakeFolderLink(dir_.Native("trusted/link"), dir_.Native("trusted/real"))) {
    GTEST_SKIP() << "no folder links here (Wine makes none; the end-to-end tests use its "
                    "view of Unix links)";
  }
  platform_->TrustFolder(dir_.CorePath("trusted"));
  const std::string through = dir_.CorePath("trusted\\link\\rasphone.pbk");
  FileHandle file = kInvalidFile;
  EXPECT_EQ(platform_->OpenForRead(through, file), kErrorLinkRefused);
  EXPECT_EQ(file, kInvalidFile);
  std::string tempPath;
  EXPECT_EQ(platform_->CreateTempBeside(through, file, tempPath), kErrorLinkRefused);
  platform_->CreateDirectories(dir_.CorePath("trusted\\link\\sub"));
  EXPECT_FALSE(fs::exists(dir_.Native("trusted/real/sub")));
  const Temp temp = WriteTemp(dir_.CorePath("trusted\\real\\rasphone.pbk"), "new");
  EXPECT_EQ(Replace(temp, through), kErrorLinkRefused);
  EXPECT_EQ(dir_.Read("trusted/real/rasphone.pbk"), "old");
  // The trusted folder itself may be a link.
  platform_->TrustFolder(dir_.CorePath("trusted\\link"));
  EXPECT_EQ(ReadThrough(through), "old");
}

TEST_F(PlatformProcessTest, WriteErrorConvertsToTheOemCodePage) {
  if (::GetACP() != 1252 || (::GetOEMCP() != 437 && ::GetOEMCP() != 850)) {
    GTEST_SKIP() << "needs ANSI 1252 and OEM 437 or 850";
  }
  {
    const StdStream err(StdStream::kErr, dir_.Native("err"));
    platform_->WriteError("caf\xe9 \xfc\r\n");
  }
  EXPECT_EQ(dir_.Read("err"), "caf\x82 \x81\r\n");
}

// --- WOW64 file-system redirection ---

// Stand-ins for the system's pair of switches, recording what they were asked in order.
std::vector<std::string> switchCalls;
bool disableFails = false;

BOOL WINAPI StandInDisable(PVOID* old) {
  switchCalls.push_back("disable");
  ::SetLastError(ERROR_INVALID_FUNCTION);
  if (disableFails) return FALSE;
  *old = reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(switchCalls.size()));
  return TRUE;
}

BOOL WINAPI StandInRevert(PVOID old) {
  switchCalls.push_back("revert " + std::to_string(reinterpret_cast<std::uintptr_t>(old)));
  ::SetLastError(ERROR_INVALID_FUNCTION);
  return TRUE;
}

TEST(FsRedirectionOffTest, TurnsBackWhatItTurnedOffAndKeepsTheLastError) {
  using win32::FsRedirectionOff;
  const struct {
    std::string name;
    FsRedirectionOff::Switch calls;
    bool disableFails;
    std::vector<std::string> expected;
  } cases[] = {
      {"redirected (WOW64)",
       {StandInDisable, StandInRevert},
       false,
       {"disable", "disable", "revert 2", "revert 1"}},
      {"nothing redirected (32-bit Windows)",
       {StandInDisable, StandInRevert},
       true,
       {"disable", "disable"}},
      {"no such functions (XP, 64-bit builds)", {}, false, {}},
  };
  for (const auto& c : cases) {
    switchCalls.clear();
    disableFails = c.disableFails;
    ::SetLastError(ERROR_ACCESS_DENIED);
    {
      const FsRedirectionOff outer(c.calls);
      EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << c.name;
      {
        const FsRedirectionOff inner(c.calls);
        ::SetLastError(ERROR_SHARING_VIOLATION);  // the file call in its scope
      }
      EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << c.name;
    }
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << c.name;
    EXPECT_EQ(switchCalls, c.expected) << c.name;
  }
  // A 64-bit process is never redirected: its build looks nothing up.
  if constexpr (sizeof(void*) == 8) {
    EXPECT_EQ(FsRedirectionOff::System().disable, nullptr);
    EXPECT_EQ(FsRedirectionOff::System().revert, nullptr);
  }
}
}  // namespace
}  // namespace lw::platform_test
