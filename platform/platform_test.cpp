// The platform of this build, for real: natively on Linux, under wine64 for Win32.
#include "platform/system_platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/temp_dir.h"

namespace lw {
namespace {

namespace fs = std::filesystem;
using testing::EndsWith;
using testing::StartsWith;

constexpr RegKey kCurrentUser = 0x80000001;
constexpr RegKey kLocalMachine = 0x80000002;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegDword = 4;
constexpr RegStatus kRegNotFound = 2;
constexpr RegStatus kRegAccessDenied = 5;
constexpr RegStatus kRegInvalidHandle = 6;

#ifdef _WIN32
constexpr SysError kFileNotFound = ERROR_FILE_NOT_FOUND;
constexpr SysError kPathNotFound = ERROR_PATH_NOT_FOUND;
constexpr SysError kOpenedDirectory = ERROR_ACCESS_DENIED;
constexpr char kExecutableName[] = "linkwright_tests.exe";
#else
constexpr SysError kFileNotFound = ENOENT;
constexpr SysError kPathNotFound = ENOENT;
constexpr SysError kOpenedDirectory = EISDIR;
constexpr char kExecutableName[] = "linkwright_tests";
#endif

void SetEnv(const std::string& name, const char* value) {
#ifdef _WIN32
  ::SetEnvironmentVariableA(name.c_str(), value);
#else
  if (value == nullptr) {
    ::unsetenv(name.c_str());
  } else {
    ::setenv(name.c_str(), value, 1);
  }
#endif
}

class PlatformTest : public testing::Test {
 protected:
  PlatformTest() {
    // The POSIX registry lives below ProgramData, read when the platform is made.
    if (const char* programData = std::getenv("ProgramData")) savedProgramData_ = programData;
    SetEnv("ProgramData", dir_.Native().string().c_str());
    platform_ = CreateSystemPlatform(1, argv_);
  }
  ~PlatformTest() override {
    SetEnv("ProgramData", savedProgramData_ ? savedProgramData_->c_str() : nullptr);
  }

  // The whole file as the platform reads it.
  std::string ReadThrough(const std::string& path) {
    FileHandle file = kInvalidFile;
    EXPECT_EQ(platform_->OpenForRead(path, file), 0u) << path;
    EXPECT_NE(file, kInvalidFile) << path;
    std::uint64_t size = 0;
    EXPECT_EQ(platform_->GetFileSize(file, size), 0u);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::size_t done = 0;
    EXPECT_EQ(platform_->ReadFile(file, bytes.data(), bytes.size(), done), 0u);
    EXPECT_EQ(done, bytes.size());
    platform_->CloseFile(file);
    return bytes;
  }

  // A temporary file beside `target` holding `bytes`, flushed and still open.
  struct Temp {
    FileHandle file = kInvalidFile;
    std::string path;
  };
  Temp WriteTemp(const std::string& target, std::string_view bytes) {
    Temp temp;
    EXPECT_EQ(platform_->CreateTempBeside(target, temp.file, temp.path), 0u);
    EXPECT_NE(temp.file, kInvalidFile);
    std::size_t done = 0;
    EXPECT_EQ(platform_->WriteFile(temp.file, bytes, done), 0u);
    EXPECT_EQ(done, bytes.size());
    EXPECT_EQ(platform_->FlushFile(temp.file), 0u);
    return temp;
  }
  SysError Replace(const Temp& temp, const std::string& target) {
    return platform_->ReplaceWith(temp.file, temp.path, target);
  }

  std::set<std::string> FolderEntries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.Native())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::optional<std::string> savedProgramData_;
  TempDir dir_;
  char arg0_[17] = "linkwright_tests";
  char* argv_[2] = {arg0_, nullptr};
  std::unique_ptr<Platform> platform_;
};

// --- Files ---

using PlatformFileTest = PlatformTest;

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

using PlatformSaveTest = PlatformTest;

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

#ifdef _WIN32

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
  EXPECT_EQ(platform_->OpenForRead(dir_.CorePath("rasphone.pbk"), file),
            static_cast<SysError>(ERROR_SHARING_VIOLATION));
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

#else

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

TEST_F(PlatformSaveTest, TempFileIsHiddenAndPrivate) {
  std::string temp;
  FileHandle file = kInvalidFile;
  ASSERT_EQ(platform_->CreateTempBeside(dir_.CorePath("rasphone.pbk"), file, temp), 0u);
  platform_->CloseFile(file);
  const std::string name = temp.substr(dir_.CorePath().size() + 1);
  EXPECT_THAT(name, StartsWith("."));
  EXPECT_EQ(ModeOf(dir_.Native(name)), 0600u);
}

TEST_F(PlatformSaveTest, ReplaceKeepsModeAndOwnerOfTarget) {
  dir_.Write("rasphone.pbk", "old");
  const std::string target = dir_.CorePath("rasphone.pbk");
  ASSERT_EQ(::chmod(dir_.Native("rasphone.pbk").c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(dir_.Native("rasphone.pbk").c_str(), 65534, 65534), 0);
  }
  const Temp temp = WriteTemp(target, "new");
  ASSERT_EQ(Replace(temp, target), 0u);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "new");
  EXPECT_EQ(ModeOf(dir_.Native("rasphone.pbk")), 0640u);
  if (root) {
    struct stat info {};
    ASSERT_EQ(::stat(dir_.Native("rasphone.pbk").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
  }
}

TEST_F(PlatformSaveTest, NewTargetGetsTheModeOfAPlainCreate) {
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}}) {
    const mode_t old = ::umask(mask);
    const std::string target = dir_.CorePath("new.pbk");
    const Temp temp = WriteTemp(target, "x");
    EXPECT_EQ(Replace(temp, target), 0u);
    ::umask(old);
    EXPECT_EQ(ModeOf(dir_.Native("new.pbk")), 0666u & ~mask) << std::oct << mask;
    fs::remove(dir_.Native("new.pbk"));
  }
}

#endif

// --- Paths and text ---

using PlatformTextTest = PlatformTest;

// The current directory as the core writes paths.
std::string CoreCwd() {
  std::string cwd = fs::current_path().string();
  for (char& c : cwd) {
    if (c == '/') c = '\\';
  }
  if (cwd.back() == '\\') cwd.pop_back();
  return cwd;
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
  const std::string denied = platform_->SystemErrorText(5);
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
  ASSERT_TRUE(platform_->FindResourceData("IniData", 10, first));
  EXPECT_FALSE(first.empty());
  for (const char* name : {"INIDATA", "inidata", "iNiDaTa"}) {
    std::string_view data;
    ASSERT_TRUE(platform_->FindResourceData(name, 10, data)) << name;
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
    EXPECT_FALSE(platform_->FindResourceData(c.name, c.type, data)) << c.name << " " << c.type;
  }
}

// --- Environment and process ---

using PlatformProcessTest = PlatformTest;

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
  for (const char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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
  SidHandle sid = 0;
  ASSERT_TRUE(platform_->AllocateAdminsSid(sid));
  EXPECT_NE(sid, 0u);
  bool member = false;
  EXPECT_TRUE(platform_->CheckTokenMembership(sid, member));
#ifndef _WIN32
  EXPECT_EQ(member, ::geteuid() == 0);
#endif
  platform_->FreeSid(sid);
}

#ifdef _WIN32
using StreamId = DWORD;
constexpr StreamId kStdIn = STD_INPUT_HANDLE;
constexpr StreamId kStdOut = STD_OUTPUT_HANDLE;
constexpr StreamId kStdErr = STD_ERROR_HANDLE;
#else
using StreamId = int;
constexpr StreamId kStdIn = 0;
constexpr StreamId kStdOut = 1;
constexpr StreamId kStdErr = 2;
#endif

// Points a standard stream of the process at a file while it lives.
class StdStream {
 public:
  StdStream(StreamId which, const fs::path& file, bool input) : which_(which) {
#ifdef _WIN32
    saved_ = ::GetStdHandle(which);
    file_ = ::CreateFileW(file.c_str(), input ? GENERIC_READ : GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          input ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ::SetStdHandle(which, file_);
#else
    std::fflush(nullptr);
    saved_ = ::dup(which);
    const int fd = ::open(file.c_str(), input ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, which);
    ::close(fd);
#endif
  }
  StdStream(const StdStream&) = delete;
  StdStream& operator=(const StdStream&) = delete;
  ~StdStream() {
#ifdef _WIN32
    ::SetStdHandle(which_, saved_);
    ::CloseHandle(file_);
#else
    ::dup2(saved_, which_);
    ::close(saved_);
#endif
  }

 private:
  StreamId which_;
#ifdef _WIN32
  HANDLE saved_;
  HANDLE file_;
#else
  int saved_;
#endif
};

TEST_F(PlatformProcessTest, WriteLineEndsEachLineInCrLf) {
  {
    const StdStream out(kStdOut, dir_.Native("out"), false);
    platform_->WriteLine("vpnsetup.exe 2019061101");
    platform_->WriteLine("");
    platform_->WriteLine("* reading: C:\\x\xe9.pbk");
  }
  EXPECT_EQ(dir_.Read("out"), "vpnsetup.exe 2019061101\r\n\r\n* reading: C:\\x\xe9.pbk\r\n");
}

TEST_F(PlatformProcessTest, WriteErrorWritesTheBytesAsGiven) {
  {
    const StdStream err(kStdErr, dir_.Native("err"), false);
    platform_->WriteError("Exception ERegistryException in module vpnsetup.exe at 00001234.\r\n");
    platform_->WriteError("Failed.\r\n\r\n");
  }
  EXPECT_EQ(dir_.Read("err"),
            "Exception ERegistryException in module vpnsetup.exe at 00001234.\r\n"
            "Failed.\r\n\r\n");
}

#ifdef _WIN32
TEST_F(PlatformProcessTest, WriteErrorConvertsToTheOemCodePage) {
  if (::GetACP() != 1252 || (::GetOEMCP() != 437 && ::GetOEMCP() != 850)) {
    GTEST_SKIP() << "needs ANSI 1252 and OEM 437 or 850";
  }
  {
    const StdStream err(kStdErr, dir_.Native("err"), false);
    platform_->WriteError("caf\xe9 \xfc\r\n");
  }
  EXPECT_EQ(dir_.Read("err"), "caf\x82 \x81\r\n");
}
#endif

TEST_F(PlatformProcessTest, ReadLineTakesOneLineAtATime) {
  dir_.Write("in", "yes\r\nsecond line\n\nlast");
  std::vector<std::string> lines;
  {
    const StdStream in(kStdIn, dir_.Native("in"), true);
    for (int i = 0; i < 5; ++i) lines.push_back(platform_->ReadLine());
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"yes", "second line", "", "last", ""}));
}

// --- Registry ---

// A stored value read back past the platform.
struct StoredValue {
  std::uint32_t type = 0;
  std::string data;
  bool operator==(const StoredValue&) const = default;
};

class PlatformRegistryTest : public PlatformTest {
 protected:
  PlatformRegistryTest() {
    std::random_device random;
    testKey_ = "Software\\LinkwrightTest\\t" + std::to_string(random());
  }
  ~PlatformRegistryTest() override {
#ifdef _WIN32
    ::RegDeleteTreeA(HKEY_CURRENT_USER, testKey_.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\LinkwrightTest");
#endif
  }

  // The value below HKEY_CURRENT_USER\`keyPath`, if there is one.
  std::optional<StoredValue> Stored(const std::string& keyPath, const std::string& name) const {
#ifdef _WIN32
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
#else
    std::string relative = keyPath;
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    const fs::path key = dir_.Native() / "Registry" / "HKEY_CURRENT_USER" / relative;
    if (!fs::exists(key / name)) return std::nullopt;
    return StoredValue{static_cast<std::uint32_t>(std::stoul(Contents(key / ".types" / name))),
                       Contents(key / name)};
#endif
  }

  std::string testKey_;
};

TEST_F(PlatformRegistryTest, CreateWriteReopenRoundTrip) {
  RegKey key = 0;
  ASSERT_EQ(platform_->CreateKey(kCurrentUser, testKey_ + "\\Services\\Sstpsvc\\Parameters",
                                 kKeyAllAccess, key),
            0);
  EXPECT_NE(key, 0u);
  EXPECT_EQ(platform_->SetValue(key, "NoCertRevocationCheck", kRegDword,
                                std::string("\x01\x00\x00\x00", 4)),
            0);
  EXPECT_EQ(platform_->SetValue(key, "Text", kRegSz, std::string("a b\0", 4)), 0);
  EXPECT_EQ(platform_->CloseKey(key), 0);

  const std::string path = testKey_ + "\\Services\\Sstpsvc\\Parameters";
  EXPECT_EQ(Stored(path, "NoCertRevocationCheck"),
            (StoredValue{kRegDword, std::string("\x01\x00\x00\x00", 4)}));
  EXPECT_EQ(Stored(path, "Text"), (StoredValue{kRegSz, std::string("a b\0", 4)}));

  // Names match in any letter case; a value written again is replaced, not doubled.
  ASSERT_EQ(platform_->OpenKey(kCurrentUser, testKey_ + "\\SERVICES\\sstpsvc\\parameters",
                               kKeyAllAccess, key),
            0);
  EXPECT_EQ(platform_->SetValue(key, "nocertrevocationcheck", kRegDword,
                                std::string("\x00\x00\x00\x00", 4)),
            0);
  EXPECT_EQ(platform_->CloseKey(key), 0);
  EXPECT_EQ(Stored(path, "NoCertRevocationCheck"),
            (StoredValue{kRegDword, std::string("\x00\x00\x00\x00", 4)}));
}

TEST_F(PlatformRegistryTest, ReadAccessWritesNothing) {
  RegKey key = 0;
  ASSERT_EQ(platform_->CreateKey(kCurrentUser, testKey_, kKeyAllAccess, key), 0);
  EXPECT_EQ(platform_->CloseKey(key), 0);
  ASSERT_EQ(platform_->OpenKey(kCurrentUser, testKey_, kKeyRead, key), 0);
  EXPECT_EQ(platform_->SetValue(key, "Value", kRegDword, std::string(4, '\0')), kRegAccessDenied);
  EXPECT_EQ(platform_->CloseKey(key), 0);
  EXPECT_EQ(Stored(testKey_, "Value"), std::nullopt);
}

TEST_F(PlatformRegistryTest, RelativeOpensAndEmptyPath) {
  RegKey parent = 0;
  ASSERT_EQ(platform_->CreateKey(kCurrentUser, testKey_, kKeyAllAccess, parent), 0);
  RegKey child = 0;
  ASSERT_EQ(platform_->CreateKey(parent, "Child", kKeyAllAccess, child), 0);
  RegKey same = 0;
  ASSERT_EQ(platform_->OpenKey(child, "", kKeyAllAccess, same), 0);
  EXPECT_NE(same, child);
  EXPECT_EQ(platform_->SetValue(same, "V", kRegDword, std::string("\x07\x00\x00\x00", 4)), 0);
  for (const RegKey key : {same, child, parent}) EXPECT_EQ(platform_->CloseKey(key), 0);
  EXPECT_EQ(Stored(testKey_ + "\\Child", "V"),
            (StoredValue{kRegDword, std::string("\x07\x00\x00\x00", 4)}));
}

TEST_F(PlatformRegistryTest, Failures) {
  RegKey key = 0;
  EXPECT_EQ(platform_->OpenKey(kCurrentUser, testKey_ + "\\Missing", kKeyRead, key), kRegNotFound);
  EXPECT_EQ(platform_->OpenKey(kCurrentUser, testKey_ + "\\Missing", kKeyAllAccess, key),
            kRegNotFound);
  EXPECT_EQ(platform_->CloseKey(0x7654), kRegInvalidHandle);
  EXPECT_EQ(platform_->SetValue(0x7654, "V", kRegDword, std::string(4, '\0')), kRegInvalidHandle);
  EXPECT_NE(platform_->ConnectRegistry("\\\\lw-no-such-machine.invalid", kLocalMachine, key), 0);
}

#ifndef _WIN32

// Runs `body` in a child process without root's powers (as nobody when the tests run as
// root) and gives its exit status.
int RunUnprivileged(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(255);
    }
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(PlatformRegistryTest, MachineValueLayout) {
  RegKey key = 0;
  ASSERT_EQ(platform_->CreateKey(kLocalMachine,
                                 "System\\CurrentControlSet\\Services\\Sstpsvc\\Parameters",
                                 kKeyAllAccess, key),
            0);
  ASSERT_EQ(platform_->SetValue(key, "NoCertRevocationCheck", kRegDword,
                                std::string("\x01\x00\x00\x00", 4)),
            0);
  EXPECT_EQ(platform_->CloseKey(key), 0);
  const std::string dir =
      "Registry/HKEY_LOCAL_MACHINE/System/CurrentControlSet/Services/Sstpsvc/Parameters/";
  EXPECT_EQ(dir_.Read(dir + "NoCertRevocationCheck"), std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(dir_.Read(dir + ".types/NoCertRevocationCheck"), "4\n");
  std::set<std::string> entries;
  for (const auto& entry : fs::directory_iterator(dir_.Native(dir))) {
    entries.insert(entry.path().filename().string());
  }
  EXPECT_EQ(entries, (std::set<std::string>{"NoCertRevocationCheck", ".types"}));
}

TEST_F(PlatformRegistryTest, NamesThatCannotBeFiles) {
  RegKey key = 0;
  for (const char* path : {"\\Software", "Software\\..\\x", "Software\\.", "a\\.types"}) {
    EXPECT_EQ(platform_->CreateKey(kCurrentUser, path, kKeyAllAccess, key), 161) << path;
  }
  ASSERT_EQ(platform_->CreateKey(kCurrentUser, testKey_, kKeyAllAccess, key), 0);
  for (const char* name : {"", "..", "a/b", ".TYPES"}) {
    EXPECT_EQ(platform_->SetValue(key, name, kRegDword, std::string(4, '\0')), 87) << name;
  }
  EXPECT_EQ(platform_->CloseKey(key), 0);
}

TEST_F(PlatformRegistryTest, NoProgramDataNoRegistry) {
  SetEnv("ProgramData", nullptr);
  const auto platform = CreateSystemPlatform(1, argv_);
  RegKey key = 0;
  EXPECT_NE(platform->CreateKey(kLocalMachine, "System", kKeyAllAccess, key), 0);
  EXPECT_FALSE(fs::exists("/Registry"));
}

TEST_F(PlatformRegistryTest, AccessFollowsTheKeyDirectoryPermissions) {
  RegKey key = 0;
  ASSERT_EQ(platform_->CreateKey(kLocalMachine, "System\\Locked", kKeyAllAccess, key), 0);
  EXPECT_EQ(platform_->CloseKey(key), 0);
  const fs::path locked = dir_.Native() / "Registry" / "HKEY_LOCAL_MACHINE" / "System" / "Locked";
  fs::permissions(dir_.Native(), fs::perms(0755));
  fs::permissions(locked, fs::perms(0555));

  const auto open = [this](std::uint32_t access) {
    return RunUnprivileged([&] {
      const auto platform = CreateSystemPlatform(1, argv_);
      RegKey opened = 0;
      return static_cast<int>(platform->OpenKey(kLocalMachine, "System\\Locked", access, opened));
    });
  };
  const auto create = [this](const char* path) {
    return RunUnprivileged([&] {
      const auto platform = CreateSystemPlatform(1, argv_);
      RegKey created = 0;
      return static_cast<int>(platform->CreateKey(kLocalMachine, path, kKeyAllAccess, created));
    });
  };
  EXPECT_EQ(open(kKeyAllAccess), kRegAccessDenied);
  EXPECT_EQ(open(kKeyRead), 0);
  EXPECT_EQ(create("System\\Locked"), kRegAccessDenied);
  EXPECT_EQ(create("System\\Locked\\Sub"), kRegAccessDenied);
  EXPECT_FALSE(fs::exists(locked / "Sub"));
  EXPECT_EQ(RunUnprivileged([this] {
              const auto platform = CreateSystemPlatform(1, argv_);
              SidHandle sid = 0;
              bool member = true;
              return platform->AllocateAdminsSid(sid) &&
                             platform->CheckTokenMembership(sid, member) && !member
                         ? 0
                         : 1;
            }),
            0);
  fs::permissions(locked, fs::perms(0755));
}

TEST(PlatformArgumentsTest, ArgvEndsAtTheFirstEmptyArgument) {
  const struct {
    std::vector<std::string> argv;
    std::vector<std::string> arguments;
  } cases[] = {
      {{"vpnsetup"}, {}},
      {{"vpnsetup", "/r", "/u"}, {"/r", "/u"}},
      {{"vpnsetup", "/r", "", "/u"}, {"/r"}},
      {{"vpnsetup", "", "/u"}, {}},
      {{"vpnsetup", "a b", "\"q\""}, {"a b", "\"q\""}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> storage = c.argv;
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto platform = CreateSystemPlatform(static_cast<int>(storage.size()), argv.data());
    EXPECT_EQ(platform->Arguments(), c.arguments);
  }
}

#endif

}  // namespace
}  // namespace lw
