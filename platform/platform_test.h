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

// --- The fixture ---

class PlatformTest : public ::testing::Test {
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
  // Replaces `target` with the temporary file, then closes it.
  SysError Replace(const Temp& temp, const std::string& target, const ExpectedFile& expected = {}) {
    const SysError error = platform_->ReplaceWith(temp.file, temp.path, target, expected);
    platform_->CloseFile(temp.file);
    return error;
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

}  // namespace lw::platform_test
