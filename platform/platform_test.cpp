// The platform of this build, for real: natively on Linux, under wine64 for Win32. What
// only one platform does is tested in platform-posix_test.cpp and platform-win32_test.cpp.
#include "platform/platform_test.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ascii_case.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "provisioning/template.h"
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

// --- The systems the suite runs on ---

// A fresh folder of the disk, and the registry the platform of this build writes.
class DiskSystem final : public TestSystem {
 public:
  std::string CorePath(const std::string& name = {}) const override {
    return name.empty() ? dir_.CorePath() : dir_.CorePath() + "\\" + name;
  }
  void Write(const std::string& name, const std::string& bytes) override {
    std::fstream out(Native(name), std::ios::binary | std::ios::in | std::ios::out);
    if (!out) out.open(Native(name), std::ios::binary | std::ios::out);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    fs::resize_file(Native(name), bytes.size());
  }
  std::string Read(const std::string& name) const override {
    std::ifstream in(Native(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool IsFile(const std::string& name) const override { return fs::is_regular_file(Native(name)); }
  bool IsFolder(const std::string& name) const override { return fs::is_directory(Native(name)); }
  void MakeFolder(const std::string& name) override { fs::create_directories(Native(name)); }
  void Remove(const std::string& name) override { fs::remove(Native(name)); }
  void Rename(const std::string& from, const std::string& to) override {
    fs::rename(Native(from), Native(to));
  }
  void WriteKeepingTime(const std::string& name, const std::string& bytes) override {
    const auto time = fs::last_write_time(Native(name));
    Write(name, bytes);
    fs::last_write_time(Native(name), time);
  }
  std::set<std::string> Entries() const override {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.Native())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  std::optional<StoredValue> Stored(const std::string& keyPath,
                                    const std::string& name) const override {
    return StoredValueOf(dir_, keyPath, name);
  }

  TempDir dir_;
  ProgramDataHere programData_{dir_};

 private:
  fs::path Native(std::string name) const {
    for (char& c : name) {
      if (c == '\\') c = '/';
    }
    return dir_.Native() / name;
  }
};

// The fake's memory, below a folder of its own.
class FakeSystem final : public TestSystem {
 public:
  explicit FakeSystem(FakePlatform& fake) : fake_(fake) { fake_.CreateDirectories(kRoot); }

  std::string CorePath(const std::string& name = {}) const override {
    return name.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + name;
  }
  void Write(const std::string& name, const std::string& bytes) override {
    fake_.AddFile(CorePath(name), bytes);
  }
  std::string Read(const std::string& name) const override {
    const auto it = fake_.files.find(CorePath(name));
    return it == fake_.files.end() ? std::string() : it->second;
  }
  bool IsFile(const std::string& name) const override {
    return fake_.files.count(CorePath(name)) != 0;
  }
  bool IsFolder(const std::string& name) const override {
    return fake_.dirs.count(CorePath(name)) != 0;
  }
  void MakeFolder(const std::string& name) override { fake_.CreateDirectories(CorePath(name)); }
  void Remove(const std::string& name) override { fake_.RemoveFile(CorePath(name)); }
  void Rename(const std::string& from, const std::string& to) override {
    fake_.RenameFile(CorePath(from), CorePath(to));
  }
  // The fake's last write follows the bytes: no write keeps it.
  void WriteKeepingTime(const std::string& name, const std::string& bytes) override {
    Write(name, bytes);
  }
  std::set<std::string> Entries() const override {
    std::set<std::string> names;
    const std::string prefix = CorePath() + "\\";
    const auto below = [&](const std::string& path) {
      if (path.rfind(prefix, 0) == 0 && path.find('\\', prefix.size()) == std::string::npos) {
        names.insert(path.substr(prefix.size()));
      }
    };
    for (const auto& [path, bytes] : fake_.files) below(path);
    for (const std::string& path : fake_.dirs) below(path);
    return names;
  }
  std::optional<StoredValue> Stored(const std::string& keyPath,
                                    const std::string& name) const override {
    const auto value = fake_.RegistryValue("HKEY_CURRENT_USER\\" + keyPath, name);
    if (!value) return std::nullopt;
    return StoredValue{value->type, value->data};
  }

 private:
  static constexpr char kRoot[] = "C:\\Fake\\Test";
  FakePlatform& fake_;
};

}  // namespace

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSystem ? "System" : "Fake";
}

PlatformContractTest::PlatformContractTest() {
  std::random_device random;
  testKey_ = "Software\\LinkwrightTest\\t" + std::to_string(random());
  if (GetParam() == Backend::kFake) {
    auto fake = std::make_unique<FakePlatform>();
    fake->AddResource("IniData", kRcDataType, "[config]\r\n");
    system_ = std::make_unique<FakeSystem>(*fake);
    platform_ = std::move(fake);
    return;
  }
  system_ = std::make_unique<DiskSystem>();
  static char name[] = "linkwright_tests";
  static char* argv[] = {name, nullptr};
  platform_ = CreateSystemPlatform(1, argv);
}

PlatformContractTest::~PlatformContractTest() {
  if (GetParam() == Backend::kSystem) RemoveTestKey(testKey_);
}

SysError PlatformContractTest::FileNotFound() const {
  return GetParam() == Backend::kFake ? kErrorFileNotFound : kFileNotFound;
}

SysError PlatformContractTest::PathNotFound() const {
  return GetParam() == Backend::kFake ? kErrorPathNotFound : kPathNotFound;
}

namespace {

INSTANTIATE_TEST_SUITE_P(, ContractFileTest, ::testing::Values(Backend::kSystem, Backend::kFake),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(, ContractSaveTest, ::testing::Values(Backend::kSystem, Backend::kFake),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(, ContractTextTest, ::testing::Values(Backend::kSystem, Backend::kFake),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(, ContractRegistryTest,
                         ::testing::Values(Backend::kSystem, Backend::kFake), BackendName);

// --- Files ---

TEST_P(ContractFileTest, ReadsEveryByteInOneRead) {
  std::string bytes = std::string("[A]\r\nx=\xff\xa0\0\r\n\n\r", 14);
  bytes.append(100000, 'z');
  system_->Write("big.pbk", bytes);
  EXPECT_EQ(ReadThrough(system_->CorePath("big.pbk")), bytes);
}

TEST_P(ContractFileTest, ReadAtTheEndGivesNothing) {
  system_->Write("f.pbk", "abc");
  FileHandle file = kInvalidFile;
  ASSERT_EQ(platform_->OpenForRead(system_->CorePath("f.pbk"), file), 0u);
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
TEST_P(ContractFileTest, OpenForReadFindsOnlyFiles) {
  system_->Write("file.pbk", "x");
  system_->Write("empty.pbk", "");
  system_->MakeFolder("folder");
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
    EXPECT_EQ(platform_->OpenForRead(system_->CorePath(c.name), file), 0u) << c.name;
    EXPECT_EQ(file != kInvalidFile, c.opens) << c.name;
    platform_->CloseFile(file);
  }
}

TEST_P(ContractFileTest, CreateDirectoriesMakesEveryLevel) {
  platform_->CreateDirectories(system_->CorePath("a\\b\\c"));
  EXPECT_TRUE(system_->IsFolder("a\\b\\c"));
  // Again, with the levels there and a trailing separator: nothing breaks.
  platform_->CreateDirectories(system_->CorePath("a\\b\\c\\d\\"));
  EXPECT_TRUE(system_->IsFolder("a\\b\\c\\d"));
}

TEST_P(ContractFileTest, CreateDirectoriesIgnoresFailures) {
  system_->Write("file", "keep");
  platform_->CreateDirectories(system_->CorePath("file\\sub"));
  EXPECT_EQ(system_->Read("file"), "keep");
  EXPECT_FALSE(system_->IsFolder("file\\sub"));
  platform_->CreateDirectories("");
}

TEST_P(ContractFileTest, RemoveFile) {
  system_->Write("gone.pbk", "x");
  EXPECT_EQ(platform_->RemoveFile(system_->CorePath("gone.pbk")), 0u);
  EXPECT_FALSE(system_->IsFile("gone.pbk"));
  EXPECT_EQ(platform_->RemoveFile(system_->CorePath("gone.pbk")), FileNotFound());
}

// A hold is taken where the folder is; where there is none yet, nothing can be written
// there, and there is nothing to hold.
TEST_P(ContractFileTest, LockHoldsTheFolderThatIsThere) {
  LockHandle lock = kNoLock;
  EXPECT_EQ(platform_->LockFile(system_->CorePath("none\\rasphone.pbk"), 0, lock), 0u);
  EXPECT_EQ(lock, kNoLock);
  ASSERT_EQ(platform_->LockFile(system_->CorePath("rasphone.pbk"), 0, lock), 0u);
  EXPECT_NE(lock, kNoLock);
  platform_->UnlockFile(lock);
  ASSERT_EQ(platform_->LockFile(system_->CorePath("rasphone.pbk"), 0, lock), 0u);
  EXPECT_NE(lock, kNoLock);
  platform_->UnlockFile(lock);
  EXPECT_FALSE(system_->IsFolder("none"));
}

// One file has one identity however a path spells it (a hard link too); another file has
// another.
TEST_F(PlatformFileTest, IdentifyFileByTheFileNotItsSpelling) {
  dir_.Write("in.exe", "x");
  dir_.Write("other.exe", "x");
  fs::create_directory(dir_.Native("sub"));
  fs::create_hard_link(dir_.Native("in.exe"), dir_.Native("link.exe"));
  const auto identify = [&](const std::string& name) {
    std::optional<FileIdentity> identity;
    EXPECT_EQ(platform_->IdentifyFile(dir_.CorePath(name), identity), 0u) << name;
    return identity;
  };
  const std::optional<FileIdentity> in = identify("in.exe");
  ASSERT_TRUE(in);
  for (const char* same : {"sub\\..\\in.exe", ".\\in.exe", "link.exe"}) {
    EXPECT_EQ(identify(same), in) << same;
  }
  EXPECT_NE(identify("other.exe"), in);
  EXPECT_NE(identify("sub"), in);
  EXPECT_FALSE(identify("none.exe"));
  EXPECT_FALSE(identify("none\\in.exe"));
}

// --- Temporary file and replacement ---

TEST_P(ContractSaveTest, TempFileIsNewAndBesideTheTarget) {
  const std::string target = system_->CorePath("rasphone.pbk");
  std::set<std::string> temps;
  for (int i = 0; i < 20; ++i) {
    std::string temp;
    FileHandle file = kInvalidFile;
    ASSERT_EQ(platform_->CreateTempBeside(target, file, temp), 0u);
    ASSERT_NE(file, kInvalidFile);
    platform_->CloseFile(file);
    EXPECT_THAT(temp, StartsWith(system_->CorePath() + "\\"));
    const std::string name = temp.substr(system_->CorePath().size() + 1);
    EXPECT_EQ(name.find('\\'), std::string::npos) << temp;
    // No longer than the phonebook's name: a path that can be read can be saved.
    EXPECT_LE(name.size(), std::string("rasphone.pbk").size()) << name;
    EXPECT_NE(temp, target);
    EXPECT_EQ(system_->Read(name), "");
    temps.insert(temp);
  }
  EXPECT_EQ(temps.size(), 20u);
  EXPECT_FALSE(system_->IsFile("rasphone.pbk"));
}

TEST_P(ContractSaveTest, TempFileFailures) {
  for (const std::string& target : {system_->CorePath("no-folder\\rasphone.pbk"), std::string()}) {
    std::string temp;
    FileHandle file = kInvalidFile;
    EXPECT_EQ(platform_->CreateTempBeside(target, file, temp), PathNotFound()) << target;
    EXPECT_EQ(file, kInvalidFile) << target;
  }
}

TEST_P(ContractSaveTest, ReplaceOverExistingTarget) {
  system_->Write("rasphone.pbk", "old contents");
  const std::string target = system_->CorePath("rasphone.pbk");
  const std::string bytes("[New]\r\nk=v\r\n\r\n\0\xff", 17);
  const Temp temp = WriteTemp(target, bytes);
  ASSERT_EQ(Replace(temp, target), 0u);
  EXPECT_EQ(system_->Read("rasphone.pbk"), bytes);
  // Nothing left beside it: no temporary file, no backup.
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"rasphone.pbk"});
}

TEST_P(ContractSaveTest, ReplaceCreatesMissingTarget) {
  const std::string target = system_->CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "[A]\r\n\r\n");
  ASSERT_EQ(Replace(temp, target), 0u);
  EXPECT_EQ(system_->Read("rasphone.pbk"), "[A]\r\n\r\n");
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"rasphone.pbk"});
}

// A replace makes sure that what is in the target's place is what it expects: the file
// that was read (the same file, size, last write and, where given, bytes), or nothing.
TEST_P(ContractSaveTest, ReplaceFindsWhatItExpectsOrLeavesTheTarget) {
  const std::string target = system_->CorePath("rasphone.pbk");
  const std::string old = "[Old]\r\nk=1\r\n";
  const struct {
    std::string name;
    ExpectedFile::Kind kind;
    bool bytes;
    std::function<void()> meanwhile;
    bool replaced;
  } cases[] = {
      {"unchanged", ExpectedFile::kFile, true, [] {}, true},
      {"unchanged, no bytes", ExpectedFile::kFile, false, [] {}, true},
      {"appended to", ExpectedFile::kFile, true, [&] { system_->Write("rasphone.pbk", old + "x"); },
       false},
      {"rewritten, same size and time", ExpectedFile::kFile, true,
       [&] { system_->WriteKeepingTime("rasphone.pbk", "[Odd]\r\nk=1\r\n"); }, false},
      {"replaced by the same bytes", ExpectedFile::kFile, false,
       [&] {
         system_->Write("other", old);
         system_->Rename("other", "rasphone.pbk");
       },
       false},
      {"removed", ExpectedFile::kFile, true, [&] { system_->Remove("rasphone.pbk"); }, false},
      {"anything", ExpectedFile::kAnything, false, [&] { system_->Write("rasphone.pbk", "y"); },
       true},
      {"nothing, made meanwhile", ExpectedFile::kNothing, false, [] {}, false},
  };
  for (const auto& c : cases) {
    system_->Write("rasphone.pbk", old);
    FileHandle file = kInvalidFile;
    ASSERT_EQ(platform_->OpenForRead(target, file), 0u);
    ExpectedFile expected;
    expected.kind = c.kind;
    ASSERT_EQ(platform_->GetFileStamp(file, expected.stamp), 0u);
    platform_->CloseFile(file);
    if (c.bytes) expected.bytes = &old;
    c.meanwhile();
    const auto now = [&] {
      return system_->IsFile("rasphone.pbk") ? system_->Read("rasphone.pbk") : "";
    };
    const std::string before = now();
    const Temp temp = WriteTemp(target, "new");
    EXPECT_EQ(Replace(temp, target, expected), c.replaced ? 0u : kErrorFileChanged) << c.name;
    if (c.replaced) {
      EXPECT_EQ(system_->Read("rasphone.pbk"), "new") << c.name;
    } else {
      EXPECT_EQ(now(), before) << c.name;
      EXPECT_EQ(platform_->RemoveFile(temp.path), 0u) << c.name;
    }
    EXPECT_EQ(FolderEntries().size(), c.name == "removed" && !c.replaced ? 0u : 1u) << c.name;
  }
  // Nothing was there when it looked, and nothing is: the file is made.
  system_->Remove("rasphone.pbk");
  const Temp temp = WriteTemp(target, "made");
  ExpectedFile nothing;
  nothing.kind = ExpectedFile::kNothing;
  EXPECT_EQ(Replace(temp, target, nothing), 0u);
  EXPECT_EQ(system_->Read("rasphone.pbk"), "made");
}

// The stamp tells files apart, and a file from itself after a write.
TEST_P(ContractFileTest, StampNamesTheFileItsSizeAndLastWrite) {
  const auto stampOf = [&](const std::string& name) {
    FileHandle file = kInvalidFile;
    FileStamp stamp;
    EXPECT_EQ(platform_->OpenForRead(system_->CorePath(name), file), 0u);
    EXPECT_EQ(platform_->GetFileStamp(file, stamp), 0u);
    platform_->CloseFile(file);
    return stamp;
  };
  system_->Write("a", "1");
  system_->Write("b", "1");
  const FileStamp a = stampOf("a");
  EXPECT_EQ(a.size, 1u);
  EXPECT_EQ(stampOf("a"), a);
  EXPECT_NE(stampOf("b").identity.index, a.identity.index);
  EXPECT_EQ(stampOf("b").identity.volume, a.identity.volume);
  system_->Write("a", "22");
  EXPECT_EQ(stampOf("a").identity, a.identity);
  EXPECT_EQ(stampOf("a").size, 2u);
}

TEST_P(ContractSaveTest, ReplaceOntoDirectoryFailsAndKeepsBoth) {
  system_->MakeFolder("rasphone.pbk");
  system_->Write("rasphone.pbk\\inside", "x");
  const std::string target = system_->CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "new");
  EXPECT_NE(Replace(temp, target), 0u);
  EXPECT_EQ(system_->Read("rasphone.pbk\\inside"), "x");
  EXPECT_EQ(ReadThrough(temp.path), "new");
}

TEST_P(ContractSaveTest, ReplaceWithVanishedTempKeepsTarget) {
  system_->Write("rasphone.pbk", "old contents");
  const std::string target = system_->CorePath("rasphone.pbk");
  const Temp temp = WriteTemp(target, "new");
  // Gone by its name, as another program might take it (Windows: only once closed).
  platform_->CloseFile(temp.file);
  EXPECT_EQ(platform_->RemoveFile(temp.path), 0u);
  FileHandle reopened = kInvalidFile;
  std::string other;
  ASSERT_EQ(platform_->CreateTempBeside(system_->CorePath("x.pbk"), reopened, other), 0u);
  EXPECT_NE(platform_->ReplaceWith(reopened, temp.path, target, {}), 0u);
  platform_->CloseFile(reopened);
  EXPECT_EQ(platform_->RemoveFile(other), 0u);
  EXPECT_EQ(system_->Read("rasphone.pbk"), "old contents");
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

TEST_P(ContractTextTest, FullPathNameOfAbsoluteAndEmptyPaths) {
  EXPECT_EQ(platform_->FullPathName(""), "");
  EXPECT_EQ(platform_->FullPathName(system_->CorePath("f.pbk")), system_->CorePath("f.pbk"));
  EXPECT_EQ(platform_->FullPathName(system_->CorePath("a\\..\\f.pbk")), system_->CorePath("f.pbk"));
  EXPECT_EQ(platform_->FullPathName(system_->CorePath("a\\.\\b\\..\\f.pbk")),
            system_->CorePath("a\\f.pbk"));
}

TEST_F(PlatformTextTest, FullPathNameLongerThanMaxPath) {
  // The ...A functions take names up to MAX_PATH; the full path may be longer.
  const std::string name = std::string(125, 'a') + "\\" + std::string(125, 'b') + ".pbk";
  const std::string full = platform_->FullPathName(name);
  if (full.empty()) GTEST_SKIP() << "this system refuses full paths past MAX_PATH (Wine)";
  EXPECT_EQ(full, CoreCwd() + "\\" + name);
  EXPECT_GT(full.size(), 260u);
}

TEST_P(ContractTextTest, SystemErrorTextNamesTheError) {
  const std::string notFound = platform_->SystemErrorText(FileNotFound());
  const std::string denied = platform_->SystemErrorText(kErrorAccessDenied);
  EXPECT_FALSE(notFound.empty());
  EXPECT_FALSE(denied.empty());
  EXPECT_NE(notFound, denied);
}

TEST_P(ContractTextTest, UpperCaseAsciiLetters) {
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

TEST_P(ContractTextTest, ResourceIniDataFoundInAnyLetterCase) {
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

TEST_P(ContractTextTest, ResourceMissing) {
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

TEST_P(ContractRegistryTest, CreateWriteReopenRoundTrip) {
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
  EXPECT_EQ(system_->Stored(path, "NoCertRevocationCheck"),
            (StoredValue{kRegDword, std::string("\x01\x00\x00\x00", 4)}));
  EXPECT_EQ(system_->Stored(path, "Text"), (StoredValue{kRegSz, std::string("a b\0", 4)}));

  // Names match in any letter case; a value written again is replaced, not doubled.
  ASSERT_EQ(platform_->OpenKey(kHkeyCurrentUser, testKey_ + "\\SERVICES\\sstpsvc\\parameters",
                               kKeyAllAccess, key),
            0u);
  EXPECT_EQ(platform_->SetValue(key, "nocertrevocationcheck", kRegDword,
                                std::string("\x00\x00\x00\x00", 4)),
            0u);
  platform_->CloseKey(key);
  EXPECT_EQ(system_->Stored(path, "NoCertRevocationCheck"),
            (StoredValue{kRegDword, std::string("\x00\x00\x00\x00", 4)}));
}

TEST_P(ContractRegistryTest, ReadAccessWritesNothing) {
  RegKey key = kNoKey;
  ASSERT_EQ(platform_->CreateKey(kHkeyCurrentUser, testKey_, kKeyAllAccess, key), 0u);
  platform_->CloseKey(key);
  ASSERT_EQ(platform_->OpenKey(kHkeyCurrentUser, testKey_, kKeyRead, key), 0u);
  EXPECT_EQ(platform_->SetValue(key, "Value", kRegDword, std::string(4, '\0')), kErrorAccessDenied);
  platform_->CloseKey(key);
  EXPECT_EQ(system_->Stored(testKey_, "Value"), std::nullopt);
}

TEST_P(ContractRegistryTest, RelativeOpensAndEmptyPath) {
  RegKey parent = kNoKey;
  ASSERT_EQ(platform_->CreateKey(kHkeyCurrentUser, testKey_, kKeyAllAccess, parent), 0u);
  RegKey child = kNoKey;
  ASSERT_EQ(platform_->CreateKey(parent, "Child", kKeyAllAccess, child), 0u);
  RegKey same = kNoKey;
  ASSERT_EQ(platform_->OpenKey(child, "", kKeyAllAccess, same), 0u);
  EXPECT_NE(same, child);
  EXPECT_EQ(platform_->SetValue(same, "V", kRegDword, std::string("\x07\x00\x00\x00", 4)), 0u);
  for (const RegKey key : {same, child, parent}) platform_->CloseKey(key);
  EXPECT_EQ(system_->Stored(testKey_ + "\\Child", "V"),
            (StoredValue{kRegDword, std::string("\x07\x00\x00\x00", 4)}));
}

TEST_P(ContractRegistryTest, Failures) {
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
