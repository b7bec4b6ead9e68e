// The suite every platform passes: its fixture, and what each platform's own test file
// (platform-win32_test.cpp, platform-posix_test.cpp, picked like the sources) supplies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "platform/system_platform.h"
#include "tests/temp_dir.h"

namespace lw::platform_test {

namespace fs = std::filesystem;

// --- Supplied by the platform's own test file ---

// The platform's codes for a missing file and a missing folder on the way.
extern const SysError kFileNotFound;
extern const SysError kPathNotFound;
// The test program's file name as the platform reports it.
extern const char kExecutableName[];
// Sets an environment variable of the process; nullptr removes it.
void SetEnv(const std::string& name, const char* value);
// What the administrator probe must answer here; none when the test cannot know.
std::optional<bool> ExpectedAdministrator();

// Points a standard stream of the process at a file while it lives.
class StdStream {
 public:
  enum Which { kIn, kOut, kErr };
  StdStream(Which which, const fs::path& file);
  StdStream(const StdStream&) = delete;
  StdStream& operator=(const StdStream&) = delete;
  ~StdStream();

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// A stored registry value read back past the platform.
struct StoredValue {
  std::uint32_t type = 0;
  std::string data;
  bool operator==(const StoredValue&) const = default;
};

// The value below HKEY_CURRENT_USER\`keyPath`, read as the platform stores it (the POSIX
// registry lives in `dir`), if there is one.
std::optional<StoredValue> StoredValueOf(const TempDir& dir, const std::string& keyPath,
                                         const std::string& name);
// Removes HKEY_CURRENT_USER\`key` and its parent, where they outlive the test folder.
void RemoveTestKey(const std::string& key);

// --- The fixtures ---

// The folder the POSIX registry lives in, pointed at a test's folder while it lives.
class ProgramDataHere {
 public:
  explicit ProgramDataHere(const TempDir& dir) {
    if (const char* programData = std::getenv("ProgramData")) saved_ = programData;
    SetEnv("ProgramData", dir.Native().string().c_str());
  }
  ProgramDataHere(const ProgramDataHere&) = delete;
  ProgramDataHere& operator=(const ProgramDataHere&) = delete;
  ~ProgramDataHere() { SetEnv("ProgramData", saved_ ? saved_->c_str() : nullptr); }

 private:
  std::optional<std::string> saved_;
};

// Calls of the platform the tests make again and again.
class PlatformCalls {
 protected:
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
  // Replaces `target` with the temporary file, then closes it.
  SysError Replace(const Temp& temp, const std::string& target, const ExpectedFile& expected = {}) {
    const SysError error = platform_->ReplaceWith(temp.file, temp.path, target, expected);
    platform_->CloseFile(temp.file);
    return error;
  }

  std::unique_ptr<Platform> platform_;
};

// The platform of this build, on a fresh folder of the disk.
class PlatformTest : public ::testing::Test, protected PlatformCalls {
 protected:
  PlatformTest() { platform_ = CreateSystemPlatform(1, argv_); }

  std::set<std::string> FolderEntries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.Native())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
  ProgramDataHere programData_{dir_};
  char arg0_[17] = "linkwright_tests";
  char* argv_[2] = {arg0_, nullptr};
};

using PlatformFileTest = PlatformTest;
using PlatformSaveTest = PlatformTest;
using PlatformTextTest = PlatformTest;
using PlatformProcessTest = PlatformTest;

class PlatformRegistryTest : public PlatformTest {
 protected:
  PlatformRegistryTest() {
    std::random_device random;
    testKey_ = "Software\\LinkwrightTest\\t" + std::to_string(random());
  }
  ~PlatformRegistryTest() override { RemoveTestKey(testKey_); }

  std::optional<StoredValue> Stored(const std::string& keyPath, const std::string& name) const {
    return StoredValueOf(dir_, keyPath, name);
  }

  std::string testKey_;
};

// What a test sets up and reads back past the platform: a folder of files, and registry
// values below HKEY_CURRENT_USER. Names below the folder use backslashes.
class TestSystem {
 public:
  virtual ~TestSystem() = default;
  // The core's path of `name` below the folder; the folder itself for none.
  virtual std::string CorePath(const std::string& name = {}) const = 0;
  // Writes the file in place (the same file when it is there).
  virtual void Write(const std::string& name, const std::string& bytes) = 0;
  virtual std::string Read(const std::string& name) const = 0;
  virtual bool IsFile(const std::string& name) const = 0;
  virtual bool IsFolder(const std::string& name) const = 0;
  virtual void MakeFolder(const std::string& name) = 0;
  virtual void Remove(const std::string& name) = 0;
  // Puts file `from` in the place of `to`, as another program's rename would.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Writes the file in place and gives it back the last-write time it had.
  virtual void WriteKeepingTime(const std::string& name, const std::string& bytes) = 0;
  // The names in the folder.
  virtual std::set<std::string> Entries() const = 0;
  virtual std::optional<StoredValue> Stored(const std::string& keyPath,
                                            const std::string& name) const = 0;
};

// Which platform the shared suite runs on: the real one, or the fake every other unit
// test uses, which must answer as the real ones do.
enum class Backend { kSystem, kFake };
std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

// The suite every platform, and the fake, passes.
class PlatformContractTest : public ::testing::TestWithParam<Backend>, protected PlatformCalls {
 protected:
  PlatformContractTest();
  ~PlatformContractTest() override;

  std::set<std::string> FolderEntries() const { return system_->Entries(); }
  // The codes of the platform under test for a missing file and a missing folder.
  SysError FileNotFound() const;
  SysError PathNotFound() const;

  std::unique_ptr<TestSystem> system_;
  std::string testKey_;
};

using ContractFileTest = PlatformContractTest;
using ContractSaveTest = PlatformContractTest;
using ContractTextTest = PlatformContractTest;
using ContractRegistryTest = PlatformContractTest;

}  // namespace lw::platform_test
