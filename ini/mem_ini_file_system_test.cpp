// The document on the real file system of the running platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ini/mem_ini_file.h"
#include "ini/stream_errors.h"
#include "ini/text_file.h"
#include "platform/system_platform.h"
#include "tests/temp_dir.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lw {
namespace {

using Names = std::vector<std::string>;

std::unique_ptr<Platform> SystemPlatform() {
  static char name[] = "linkwright_tests";
  static char* argv[] = {name, nullptr};
  return CreateSystemPlatform(1, argv);
}

Names Entries(const std::filesystem::path& folder) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class MemIniFileSystemTest : public ::testing::Test {
 protected:
  std::unique_ptr<Platform> platform_ = SystemPlatform();
  TempDir dir_;
  const std::string path_ = dir_.CorePath("rasphone.pbk");
  const std::string old_ = "; mine\n[S]\r\n k = v \n";
};

TEST_F(MemIniFileSystemTest, LoadsAndReplacesARealFile) {
  dir_.Write("rasphone.pbk", old_);
  TMemIniFile doc(*platform_, path_);
  EXPECT_EQ(doc.GetValue("s", "K", "-"), "v");
  doc.SetValue("S", "n", "1");
  doc.SaveFile();
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "[S]\r\nk=v\r\nn=1\r\n\r\n");
  EXPECT_EQ(Entries(dir_.Native()), Names{"rasphone.pbk"});
}

TEST_F(MemIniFileSystemTest, DirectoryInTheFilesPlaceStays) {
  std::filesystem::create_directory(dir_.Native("rasphone.pbk"));
  TMemIniFile doc(*platform_, path_);
  EXPECT_EQ(doc.SaveText(), "");
  doc.SetValue("S", "k", "v");
  EXPECT_THROW(doc.SaveFile(), EFCreateError);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.Native("rasphone.pbk")));
  EXPECT_EQ(Entries(dir_.Native()), Names{"rasphone.pbk"});
}

#ifdef _WIN32

// Another program's handle, given up on another thread after `ms` milliseconds.
class PassingHolder {
 public:
  PassingHolder(const std::filesystem::path& path, DWORD access, DWORD share, DWORD ms)
      : handle_(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)),
        release_([this, ms] {
          Sleep(ms);
          CloseHandle(handle_);
        }) {}
  PassingHolder(const PassingHolder&) = delete;
  PassingHolder& operator=(const PassingHolder&) = delete;
  ~PassingHolder() { release_.join(); }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
  std::thread release_;
};

// A scanner or a backup agent holding the file for a while delays the load or the save,
// and fails neither.
TEST_F(MemIniFileSystemTest, HolderThatLetsGoIsWaitedFor) {
  const struct {
    std::string name;
    bool atSave;
    DWORD access;
    DWORD share;
  } cases[] = {
      {"writer while it loads", false, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {"exclusive reader while it loads", false, GENERIC_READ, 0},
      {"exclusive reader while it saves", true, GENERIC_READ, 0},
      {"reader sharing all but deleting while it saves", true, GENERIC_READ,
       FILE_SHARE_READ | FILE_SHARE_WRITE},
  };
  for (const auto& c : cases) {
    dir_.Write("rasphone.pbk", old_);
    std::optional<TMemIniFile> doc;
    if (c.atSave) doc.emplace(*platform_, path_);
    {
      const PassingHolder holder(dir_.Native("rasphone.pbk"), c.access, c.share, 400);
      ASSERT_TRUE(holder.Valid()) << c.name;
      if (!c.atSave) doc.emplace(*platform_, path_);
      EXPECT_EQ(doc->GetValue("S", "k", "-"), "v") << c.name;
      doc->SetValue("S", "n", "1");
      EXPECT_NO_THROW(doc->SaveFile()) << c.name;
    }
    EXPECT_EQ(dir_.Read("rasphone.pbk"), "[S]\r\nk=v\r\nn=1\r\n\r\n") << c.name;
    EXPECT_EQ(Entries(dir_.Native()), Names{"rasphone.pbk"}) << c.name;
  }
}

#else

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST_F(MemIniFileSystemTest, KeepsThePermissionBitsOrGivesTheUmasksOwn) {
  dir_.Write("rasphone.pbk", old_);
  ASSERT_EQ(::chmod(dir_.Native("rasphone.pbk").c_str(), 0640), 0);
  TMemIniFile(*platform_, path_).SaveFile();
  EXPECT_EQ(ModeOf(dir_.Native("rasphone.pbk")), 0640u);

  const mode_t mask = ::umask(0);
  ::umask(mask);
  TMemIniFile(*platform_, dir_.CorePath("new.pbk")).SaveFile();
  EXPECT_EQ(ModeOf(dir_.Native("new.pbk")), 0666u & ~mask);
}

TEST_F(MemIniFileSystemTest, ReadOnlyFolderRefusesTheSave) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  dir_.Write("rasphone.pbk", old_);
  TMemIniFile doc(*platform_, path_);
  ASSERT_EQ(::chmod(dir_.Native().c_str(), 0555), 0);
  EXPECT_THROW(doc.SaveFile(), EFCreateError);
  ::chmod(dir_.Native().c_str(), 0755);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), old_);
  EXPECT_EQ(Entries(dir_.Native()), Names{"rasphone.pbk"});
}

// A tmpfs of a few pages over the test folder, gone with the test.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::filesystem::path& folder) : folder_(folder) {
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16k") == 0;
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  ~SmallFileSystem() noexcept {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
};

TEST_F(MemIniFileSystemTest, FullDiskLeavesTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  const SmallFileSystem disk(dir_.Native());
  if (!disk.Mounted()) GTEST_SKIP() << "tmpfs cannot be mounted here";
  dir_.Write("rasphone.pbk", old_);
  TMemIniFile doc(*platform_, path_);
  doc.SetValue("S", "big", std::string(64 * 1024, 'x'));
  EXPECT_THROW(doc.SaveFile(), EWriteError);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), old_);
  EXPECT_EQ(Entries(dir_.Native()), Names{"rasphone.pbk"});
}

#endif

}  // namespace
}  // namespace lw
