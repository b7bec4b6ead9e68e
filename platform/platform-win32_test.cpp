// What only the Win32 platform does, and what the shared suite needs of it.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/platform_test.h"

namespace lw::platform_test {

const SysError kFileNotFound = ERROR_FILE_NOT_FOUND;
const SysError kPathNotFound = ERROR_PATH_NOT_FOUND;
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
}  // namespace
}  // namespace lw::platform_test
