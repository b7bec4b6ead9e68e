// The platform of this build, for real: natively on Linux, under wine64 for Win32. What
// only one platform does is tested in platform-posix_test.cpp and platform-win32_test.cpp.
#include "platform/platform_test.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ascii_case.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "tests/fake_platform.h"

namespace lw::platform_test {
namespace {

using ::testing::StartsWith;

// --- Handles ---

// Whether the call `Call` takes exactly the kind `Own` of handles among `Kinds`.
template <typename Call, typename Own, typename... Kinds>
constexpr bool TakesOnly() {
  return (... && (std::is_invocable_v<Call, Platform&, Kinds> == std::is_same_v<Kinds, Own>));
}

// Every handle kind and the numbers one might pass for a handle.
template <typename Call, typename Own>
constexpr bool TakesOnlyItsKind = TakesOnly<Call, Own, FileHandle, LockHandle, RegKey, SidHandle,
                                            int, std::intptr_t, std::uintptr_t>();

// A handle of one kind never passes for another, nor a number for a handle.
static_assert(TakesOnlyItsKind<decltype(&Platform::CloseFile), FileHandle>);
static_assert(TakesOnlyItsKind<decltype(&Platform::UnlockFile), LockHandle>);
static_assert(TakesOnlyItsKind<decltype(&Platform::CloseKey), RegKey>);
static_assert(TakesOnlyItsKind<decltype(&Platform::FreeSid), SidHandle>);
// Nor does an owner take another kind.
static_assert(std::is_constructible_v<OpenFile, Platform&, FileHandle>);
static_assert(!std::is_constructible_v<OpenFile, Platform&, LockHandle>);
static_assert(std::is_constructible_v<SidGuard, Platform&, SidHandle>);
static_assert(!std::is_constructible_v<SidGuard, Platform&, RegKey>);

// --- Files ---

TEST_F(PlatformFileTest, ReadsEveryByteInOneRead) {
  std::string bytes = std::string("[A]\r\nx=\xff\xa0\0\r\n\n\r", 14);
  bytes.append(100000, 'z');
  dir_.Write("big.pbk", bytes);
  EXPECT_EQ(ReadThrough(dir_.CorePath("big.pbk")), bytes);
}

TEST_F(PlatformFileTest, ReadAtTheEndGivesNothing) {
  dir_.Write("f.pbk", "abc");
  FileHandle file = kInvalidFile;
  ASSERT_EQ(platform_->OpenForRead(dir_.CorePath("f.pbk"), file), 0u);
  ASSERT_NE(file, kInvalidFile);
  char buffer[8];
  std::size_t done = 0;
  ASSERT_EQ(platform_->ReadFile(file, buffer, sizeof buffer, done), 0u);
  EXPECT_EQ(std::string(buffer, done), "abc");
  ASSERT_EQ(platform_->ReadFile(file, buffer, sizeof buffer, done), 0u);
  EXPECT_EQ(done, 0u);
  platform_->CloseFile(file);
}

// Only a file that is there opens; nothing there, or a folder in its place, is no error.
TEST_F(PlatformFileTest, OpenForReadFindsOnlyFiles) {
  dir_.Write("file.pbk", "x");
  dir_.Write("empty.pbk", "");
  fs::create_directory(dir_.Native("folder"));
  const struct {
    std::string name;
    bool opens;
  } cases[] = {
      {"file.pbk", true},
      {"empty.pbk", true},
      {"folder", false},
      {"missing.pbk", false},
      {"no-folder\\missing.pbk", false},
  };
  for (const auto& c : cases) {
    FileHandle file = kInvalidFile;
    EXPECT_EQ(platform_->OpenForRead(dir_.CorePath(c.name), file), 0u) << c.name;
    EXPECT_EQ(file != kInvalidFile, c.opens) << c.name;
    platform_->CloseFile(file);
  }
}

TEST_F(PlatformFileTest, CreateDirectoriesMakesEveryLevel) {
  platform_->CreateDirectories(dir_.CorePath("a\\b\\c"));
  EXPECT_TRUE(fs::is_directory(dir_.Native() / "a" / "b" / "c"));
  // Again, with the levels there and a trailing separator: nothing breaks.
  platform_->CreateDirectories(dir_.CorePath("a\\b\\c\\d\\"));
  EXPECT_TRUE(fs::is_directory(dir_.Native() / "a" / "b" / "c" / "d"));
}

TEST_F(PlatformFileTest, CreateDirectoriesIgnoresFailures) {
  dir_.Write("file", "keep");
  platform_->CreateDirectories(dir_.CorePath("file\\sub"));
  EXPECT_EQ(dir_.Read("file"), "keep");
  platform_->CreateDirectories("");
}

TEST_F(PlatformFileTest, RemoveFile) {
  dir_.Write("gone.pbk", "x");
  EXPECT_EQ(platform_->RemoveFile(dir_.CorePath("gone.pbk")), 0u);
  EXPECT_FALSE(fs::exists(dir_.Native("gone.pbk")));
  EXPECT_EQ(platform_->RemoveFile(dir_.CorePath("gone.pbk")), kFileNotFound);
}

// --- Temporary file and replacement ---

TEST_F(PlatformSaveTest, TempFileIsNewAndBesideTheTarget) {
  const std::string target = dir_.CorePath("rasphone.pbk");
  std::set<std::string> temps;
  for (int i = 0; i < 20; ++i) {
    std::string temp;
    FileHandle file = kInvalidFile;
    ASSERT_EQ(platform_->CreateTempBeside(target, file, temp), 0u);
    ASSERT_NE(file, kInvalidFile);
    platform_->CloseFile(file);
    EXPECT_THAT(temp, StartsWith(dir_.CorePath() + "\\"));
    const std::string name = temp.substr(dir_.CorePath().size() + 1);
    EXPECT_EQ(name.find('\\'), std::string::npos) << temp;
    // No longer than the phonebook's name: a path that can be read can be saved.
    EXPECT_LE(name.size(), std::string("rasphone.pbk").size()) << name;
    EXPECT_NE(temp, target);
    EXPECT_EQ(dir_.Read(name), "");
    temps.insert(temp);
  }
  EXPECT_EQ(temps.size(), 20u);
  EXPECT_FALSE(fs::exists(dir_.Native("rasphone.pbk")));
}

TEST_F(PlatformSaveTest, TempFileFailures) {
  for (const std::string& target : {dir_.CorePath("no-folder\\rasphone.pbk"), std::string()}) {
    std::string temp;
    FileHandle file = kInvalidFile;
    EXPECT_EQ(platform_->CreateTempBeside(target, file, temp), kPathNotFound) << target;
    EXPECT_EQ(file, kInvalidFile) << target;
  }
}

TEST_F(PlatformSaveTest, ReplaceOverExistingTarget) {
  dir_.Write("rasphone.pbk", "old contents");
  const std::string target = dir_.CorePath("rasphone.pbk");
  const std::string bytes("[New]\r\nk=v\r\n\r\n\0\xff", 17);
  const Temp temp = WriteTemp(target, bytes);
  ASSERT_EQ(Replace(temp, target), 0u);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), bytes);
  // Nothing left beside it: no temporary file, no backup.
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"rasphone.pbk"});
}

TEST_F(PlatformSaveTest, ReplaceCreatesMissingTarget) {
  const std::string target = dir_.CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "[A]\r\n\r\n");
  ASSERT_EQ(Replace(temp, target), 0u);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "[A]\r\n\r\n");
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"rasphone.pbk"});
}

TEST_F(PlatformSaveTest, ReplaceOntoDirectoryFailsAndKeepsBoth) {
  fs::create_directory(dir_.Native("rasphone.pbk"));
  dir_.Write("rasphone.pbk/inside", "x");
  const std::string target = dir_.CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "new");
  EXPECT_NE(Replace(temp, target), 0u);
  EXPECT_EQ(dir_.Read("rasphone.pbk/inside"), "x");
  EXPECT_EQ(ReadThrough(temp.path), "new");
}

TEST_F(PlatformSaveTest, ReplaceWithVanishedTempKeepsTarget) {
  dir_.Write("rasphone.pbk", "old contents");
  const std::string target = dir_.CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "new");
  // Gone by its name, as another program might take it (Windows: only once closed).
  platform_->CloseFile(temp.file);
  EXPECT_EQ(platform_->RemoveFile(temp.path), 0u);
  FileHandle reopened = kInvalidFile;
  std::string other;
  ASSERT_EQ(platform_->CreateTempBeside(dir_.CorePath("x.pbk"), reopened, other), 0u);
  EXPECT_NE(platform_->ReplaceWith(reopened, temp.path, target), 0u);
  EXPECT_EQ(platform_->RemoveFile(other), 0u);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "old contents");
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"rasphone.pbk"});
}

// --- Paths and text ---

// The current directory as the core writes paths.
std::string CoreCwd() {
  std::string cwd = fs::current_path().string();
  for (char& c : cwd) {
    if (c == '/') c = '\\';
  }
  if (cwd.back() == '\\') cwd.pop_back();
  return cwd;
}

// Backslashes as the second byte of a character in code page 932: "\x83\x5C", "\x95\x5C".
TEST(ParentFolderTest, DropsTheLastPartAndItsSeparator) {
  FakePlatform cp932;
  cp932.leadByteRanges = FakePlatform::kCp932LeadBytes;
  FakePlatform singleBytes;
  const struct {
    std::string path;
    std::string parent;
    std::string parentInCp932;  // when it differs
  } cases[] = {
      {"C:\\Users\\ann\\rasphone.pbk", "C:\\Users\\ann", ""},
      {"C:\\Pbk\\", "C:\\Pbk", ""},
      {"\\rasphone.pbk", "", ""},
      {"rasphone.pbk", "", ""},  // a bare name: the current folder
      {"a/b.pbk", "", ""},       // the core writes no slashes
      {"", "", ""},
      {"C:\\dbcs\\\x83\x5C\x95\x5C", "C:\\dbcs\\\x83\x5C\x95", "C:\\dbcs"},
      {"C:\\\x83\x5C\\x.pbk", "C:\\\x83\x5C", ""},
      {"C:\\\x83\x5C", "C:\\\x83", "C:"},
      {"C:\\a\x83", "C:", ""},  // a lead byte at the end stands alone
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParentFolder(c.path, singleBytes), c.parent) << c.path;
    EXPECT_EQ(ParentFolder(c.path, cp932), c.parentInCp932.empty() ? c.parent : c.parentInCp932)
        << c.path;
  }
}

// Which folders name their place, and where the part that names no folder ends.
TEST(WindowsPathTest, FullPathsAndRoots) {
  FakePlatform cp932;
  cp932.leadByteRanges = FakePlatform::kCp932LeadBytes;
  FakePlatform singleBytes;
  const struct {
    std::string path;
    bool full;
    std::size_t root;
    bool cp932;
  } cases[] = {
      {"C:\\Users\\ann", true, 3, false},
      {"c:/Users", true, 3, false},
      {"C:\\", true, 3, false},
      {"C:Users", false, 2, false},  // the current folder of drive C:
      {"C:", false, 2, false},
      {"\\Users\\ann", false, 1, false},  // the current drive
      {"Users\\ann", false, 0, false},
      {"1:\\x", false, 3, false},
      {"\\\\server\\share\\x", true, 15, false},
      {"\\\\server\\share", true, 14, false},
      {"\\\\server\\", false, 9, false},
      {"\\\\server", false, 8, false},
      {"\\\\\\share", false, 8, false},
      {"\\\\?\\C:\\x", true, 7, false},
      // A server whose name ends in "\x83\x5C": one name, not a name and an empty share.
      {"\\\\srv\x83\x5C\\share\\x", true, 14, true},
      {"\\\\srv\x83\x5C\\share\\x", false, 8, false},
  };
  for (const auto& c : cases) {
    FakePlatform& platform = c.cp932 ? cp932 : singleBytes;
    EXPECT_EQ(IsFullWindowsPath(c.path, platform), c.full) << c.path;
    EXPECT_EQ(RootLength(c.path, platform), c.root) << c.path;
  }
}

TEST_F(PlatformTextTest, FullPathNameOfRelativePaths) {
  const std::string cwd = CoreCwd();
  const struct {
    std::string path;
    std::string full;
  } cases[] = {
      {"rasphone.pbk", cwd + "\\rasphone.pbk"},
      {"Pbk\\rasphone.pbk", cwd + "\\Pbk\\rasphone.pbk"},
      {".\\rasphone.pbk", cwd + "\\rasphone.pbk"},
      {"x\\..\\rasphone.pbk", cwd + "\\rasphone.pbk"},
      {"x\\y\\..\\..\\a\\.\\b", cwd + "\\a\\b"},
      {"Pbk\\", cwd + "\\Pbk\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform_->FullPathName(c.path), c.full) << c.path;
}

TEST_F(PlatformTextTest, FullPathNameOfAbsoluteAndEmptyPaths) {
  EXPECT_EQ(platform_->FullPathName(""), "");
  EXPECT_EQ(platform_->FullPathName(dir_.CorePath("f.pbk")), dir_.CorePath("f.pbk"));
  EXPECT_EQ(platform_->FullPathName(dir_.CorePath("a\\..\\f.pbk")), dir_.CorePath("f.pbk"));
}

TEST_F(PlatformTextTest, FullPathNameLongerThanMaxPath) {
  // The ...A functions take names up to MAX_PATH; the full path may be longer.
  const std::string name = std::string(125, 'a') + "\\" + std::string(125, 'b') + ".pbk";
  const std::string full = platform_->FullPathName(name);
  if (full.empty()) GTEST_SKIP() << "this system refuses full paths past MAX_PATH (Wine)";
  EXPECT_EQ(full, CoreCwd() + "\\" + name);
  EXPECT_GT(full.size(), 260u);
}

TEST_F(PlatformTextTest, SystemErrorTextNamesTheError) {
  const std::string notFound = platform_->SystemErrorText(kFileNotFound);
  const std::string denied = platform_->SystemErrorText(kErrorAccessDenied);
  EXPECT_FALSE(notFound.empty());
  EXPECT_FALSE(denied.empty());
  EXPECT_NE(notFound, denied);
}

TEST_F(PlatformTextTest, UpperCaseAsciiLetters) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"rasphone.pbk", "RASPHONE.PBK"},
      {"azAZ", "AZAZ"},
      {"`{@[", "`{@["},  // the neighbours of a-z and A-Z
      {"09 =-_;", "09 =-_;"},
      {std::string("a\0b", 3), std::string("A\0B", 3)},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string bytes = c.in + "z";  // the byte after the range stays
    platform_->UpperCase(bytes.data(), c.in.size());
    EXPECT_EQ(bytes, c.out + "z") << c.in;
  }
}

TEST_F(PlatformTextTest, ResourceIniDataFoundInAnyLetterCase) {
  std::string_view first;
  ASSERT_EQ(platform_->FindResourceData("IniData", 10, first), 0u);
  EXPECT_FALSE(first.empty());
  for (const char* name : {"INIDATA", "inidata", "iNiDaTa"}) {
    std::string_view data;
    ASSERT_EQ(platform_->FindResourceData(name, 10, data), 0u) << name;
    EXPECT_EQ(data.data(), first.data()) << name;
    EXPECT_EQ(data.size(), first.size()) << name;
  }
}

TEST_F(PlatformTextTest, ResourceMissing) {
  const struct {
    const char* name;
    std::uint32_t type;
  } cases[] = {{"IniData", 6}, {"IniDat", 10}, {"IniDataX", 10}, {"", 10}};
  for (const auto& c : cases) {
    std::string_view data;
    EXPECT_NE(platform_->FindResourceData(c.name, c.type, data), 0u) << c.name << " " << c.type;
  }
}

// --- Environment and process ---

TEST_F(PlatformProcessTest, GetEnv) {
  const std::string name = "LW_PLATFORM_TEST_VARIABLE";
  const std::string large(5000, 'v');
  const struct {
    const char* set;
    std::string expected;
  } cases[] = {
      {nullptr, ""},
      {"C:\\Users\\ann\\AppData\\Roaming", "C:\\Users\\ann\\AppData\\Roaming"},
      {large.c_str(), large},
      {nullptr, ""},
  };
  for (const auto& c : cases) {
    SetEnv(name, c.set);
    std::string value = "stale";
    EXPECT_EQ(platform_->GetEnv(name, value), 0u);
    EXPECT_EQ(value, c.expected);
  }
}

TEST_F(PlatformProcessTest, ExecutablePathIsThisProgram) {
  const std::string path = platform_->ExecutablePath();
  EXPECT_EQ(path.find('/'), std::string::npos) << path;
  const std::string name = path.substr(path.rfind('\\') + 1);
  std::string lower;
  for (const char c : name) lower += AsciiLower(c);
  EXPECT_EQ(lower, kExecutableName);
  EXPECT_FALSE(ReadThrough(path).empty());
  EXPECT_EQ(platform_->FullPathName(path), path);
}

TEST_F(PlatformProcessTest, ModuleBaseIsBelowThisCode) {
  const std::uintptr_t base = platform_->ModuleBase();
  const auto code = reinterpret_cast<std::uintptr_t>(&CoreCwd);
  ASSERT_NE(base, 0u);
  EXPECT_LE(base, code);
  EXPECT_LT(code - base, std::uintptr_t{256} << 20);
}

TEST_F(PlatformProcessTest, VersionIsReported) {
  const OsVersion version = platform_->GetVersion();
  EXPECT_GE(version.major, 3u);
  EXPECT_LT(version.minor, 100u);
}

TEST_F(PlatformProcessTest, AdministratorProbe) {
  SidHandle sid = kNoSid;
  ASSERT_EQ(platform_->AllocateAdminsSid(sid), 0u);
  EXPECT_NE(sid, kNoSid);
  bool member = false;
  EXPECT_EQ(platform_->CheckTokenMembership(sid, member), 0u);
  if (const auto expected = ExpectedAdministrator()) {
    EXPECT_EQ(member, *expected);
  }
  platform_->FreeSid(sid);
}

TEST_F(PlatformProcessTest, WriteLineEndsEachLineInCrLf) {
  {
    const StdStream out(StdStream::kOut, dir_.Native("out"));
    platform_->WriteLine("vpnsetup.exe 2019061101");
    platform_->WriteLine("");
    platform_->WriteLine("* reading: C:\\x\xe9.pbk");
  }
  EXPECT_EQ(dir_.Read("out"), "vpnsetup.exe 2019061101\r\n\r\n* reading: C:\\x\xe9.pbk\r\n");
}

TEST_F(PlatformProcessTest, WriteErrorWritesTheBytesAsGiven) {
  {
    const StdStream err(StdStream::kErr, dir_.Native("err"));
    platform_->WriteError("Exception ERegistryException in module vpnsetup.exe at 00001234.\r\n");
    platform_->WriteError("Failed.\r\n\r\n");
  }
  EXPECT_EQ(dir_.Read("err"),
            "Exception ERegistryException in module vpnsetup.exe at 00001234.\r\n"
            "Failed.\r\n\r\n");
}

TEST_F(PlatformProcessTest, ReadLineTakesOneLineAtATime) {
  dir_.Write("in", "yes\r\nsecond line\n\nlast");
  std::vector<std::string> lines;
  {
    const StdStream in(StdStream::kIn, dir_.Native("in"));
    for (int i = 0; i < 5; ++i) lines.push_back(platform_->ReadLine());
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"yes", "second line", "", "last", ""}));
}

// --- Registry ---

TEST_F(PlatformRegistryTest, CreateWriteReopenRoundTrip) {
  RegKey key = kNoKey;
  ASSERT_EQ(platform_->CreateKey(kHkeyCurrentUser, testKey_ + "\\Services\\Sstpsvc\\Parameters",
                                 kKeyAllAccess, key),
            0u);
  EXPECT_NE(key, kNoKey);
  EXPECT_EQ(platform_->SetValue(key, "NoCertRevocationCheck", kRegDword,
                                std::string("\x01\x00\x00\x00", 4)),
            0u);
  EXPECT_EQ(platform_->SetValue(key, "Text", kRegSz, std::string("a b\0", 4)), 0u);
  platform_->CloseKey(key);

  const std::string path = testKey_ + "\\Services\\Sstpsvc\\Parameters";
  EXPECT_EQ(Stored(path, "NoCertRevocationCheck"),
            (StoredValue{kRegDword, std::string("\x01\x00\x00\x00", 4)}));
  EXPECT_EQ(Stored(path, "Text"), (StoredValue{kRegSz, std::string("a b\0", 4)}));

  // Names match in any letter case; a value written again is replaced, not doubled.
  ASSERT_EQ(platform_->OpenKey(kHkeyCurrentUser, testKey_ + "\\SERVICES\\sstpsvc\\parameters",
                               kKeyAllAccess, key),
            0u);
  EXPECT_EQ(platform_->SetValue(key, "nocertrevocationcheck", kRegDword,
                                std::string("\x00\x00\x00\x00", 4)),
            0u);
  platform_->CloseKey(key);
  EXPECT_EQ(Stored(path, "NoCertRevocationCheck"),
            (StoredValue{kRegDword, std::string("\x00\x00\x00\x00", 4)}));
}

TEST_F(PlatformRegistryTest, ReadAccessWritesNothing) {
  RegKey key = kNoKey;
  ASSERT_EQ(platform_->CreateKey(kHkeyCurrentUser, testKey_, kKeyAllAccess, key), 0u);
  platform_->CloseKey(key);
  ASSERT_EQ(platform_->OpenKey(kHkeyCurrentUser, testKey_, kKeyRead, key), 0u);
  EXPECT_EQ(platform_->SetValue(key, "Value", kRegDword, std::string(4, '\0')), kErrorAccessDenied);
  platform_->CloseKey(key);
  EXPECT_EQ(Stored(testKey_, "Value"), std::nullopt);
}

TEST_F(PlatformRegistryTest, RelativeOpensAndEmptyPath) {
  RegKey parent = kNoKey;
  ASSERT_EQ(platform_->CreateKey(kHkeyCurrentUser, testKey_, kKeyAllAccess, parent), 0u);
  RegKey child = kNoKey;
  ASSERT_EQ(platform_->CreateKey(parent, "Child", kKeyAllAccess, child), 0u);
  RegKey same = kNoKey;
  ASSERT_EQ(platform_->OpenKey(child, "", kKeyAllAccess, same), 0u);
  EXPECT_NE(same, child);
  EXPECT_EQ(platform_->SetValue(same, "V", kRegDword, std::string("\x07\x00\x00\x00", 4)), 0u);
  for (const RegKey key : {same, child, parent}) platform_->CloseKey(key);
  EXPECT_EQ(Stored(testKey_ + "\\Child", "V"),
            (StoredValue{kRegDword, std::string("\x07\x00\x00\x00", 4)}));
}

TEST_F(PlatformRegistryTest, Failures) {
  RegKey key = kNoKey;
  EXPECT_EQ(platform_->OpenKey(kHkeyCurrentUser, testKey_ + "\\Missing", kKeyRead, key),
            kErrorFileNotFound);
  EXPECT_EQ(platform_->OpenKey(kHkeyCurrentUser, testKey_ + "\\Missing", kKeyAllAccess, key),
            kErrorFileNotFound);
  EXPECT_EQ(platform_->SetValue(RegKey{0x7654}, "V", kRegDword, std::string(4, '\0')),
            kErrorInvalidHandle);
  // A closed key is gone; closing what is no key does no harm.
  ASSERT_EQ(platform_->CreateKey(kHkeyCurrentUser, testKey_, kKeyAllAccess, key), 0u);
  platform_->CloseKey(key);
  EXPECT_EQ(platform_->SetValue(key, "V", kRegDword, std::string(4, '\0')), kErrorInvalidHandle);
  platform_->CloseKey(RegKey{0x7654});
  EXPECT_NE(platform_->ConnectRegistry("\\\\lw-no-such-machine.invalid", kHkeyLocalMachine, key),
            0u);
}

}  // namespace
}  // namespace lw::platform_test
