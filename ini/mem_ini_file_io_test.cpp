#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>

#include "ini/mem_ini_file.h"
#include "ini/stream_errors.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

using namespace std::string_literals;

const std::string kPath = "C:\\Pbk\\rasphone.pbk";
const std::string kOld = "; mine\r\n[Old]\r\nk = v\r\n";

// "<class>: <message>" of the error the action raises.
std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& error) {
    return std::string(error.ClassName()) + ": " + error.Message();
  }
  return "(no error)";
}

TEST(MemIniFileIoTest, MissingFileLoadsEmptyAndSavesZeroBytes) {
  FakePlatform platform;
  platform.dirs.insert("C:\\Pbk");
  TMemIniFile doc(platform, kPath);
  EXPECT_FALSE(doc.Loaded());
  EXPECT_EQ(doc.FileName(), kPath);
  EXPECT_EQ(doc.GetValue("Old", "k", "def"), "def");
  doc.SaveFile();
  EXPECT_EQ(platform.files, (std::map<std::string, std::string>{{kPath, ""}}));
  EXPECT_EQ(platform.OpenFileCount(), 0u);
}

TEST(MemIniFileIoTest, KeepsAUtf8ByteOrderMark) {
  FakePlatform platform;
  platform.AddFile(kPath, "\xef\xbb\xbf[S]\nk=v\n");
  TMemIniFile doc(platform, kPath);
  EXPECT_TRUE(doc.HasByteOrderMark());
  EXPECT_EQ(doc.GetValue("S", "k", "-"), "v");
  doc.SaveFile();
  EXPECT_EQ(platform.files[kPath], "\xef\xbb\xbf[S]\r\nk=v\r\n\r\n");
}

TEST(MemIniFileIoTest, RefusesFilesItCannotLoadWhole) {
  const struct {
    std::string bytes;
    std::function<void(FakePlatform&)> setUp;
    std::string reason;
  } cases[] = {
      {"[S]\r\nk=v\r\n", [](FakePlatform& p) { p.lockedFiles.insert(kPath); }, "System error 32"},
      // Only "not there" means absent: a file that cannot be read is no empty phonebook.
      {"[S]\r\nk=v\r\n", [](FakePlatform& p) { p.openErrors[kPath] = kErrorAccessDenied; },
       "System error 5"},
      {"[S]\r\nk=v\r\n", [](FakePlatform& p) { p.openErrors[kPath] = kErrorNotRegularFile; },
       "Not a regular file"},
      {"[S]\r\nk=v\r\n", [](FakePlatform& p) { p.links.insert("C:\\Pbk"); },
       "The path leads through a link or junction"},
      {"\xff\xfe[\0S\0]\0\r\0\n\0"s, nullptr, "The file holds a NUL byte (UTF-16 or damaged text)"},
      {"[S]\r\nk=v\0\r\n[T]\r\n"s, nullptr, "The file holds a NUL byte (UTF-16 or damaged text)"},
      {"[S]\r\nk=v\r\n", [](FakePlatform& p) { p.shortReadBy = 1; },
       "The file could not be read whole"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.AddFile(kPath, c.bytes);
    if (c.setUp) c.setUp(platform);
    EXPECT_EQ(ErrorOf([&] { TMemIniFile doc(platform, kPath); }),
              "EFOpenError: Cannot open file \"" + kPath + "\". " + c.reason);
    EXPECT_EQ(platform.files, (std::map<std::string, std::string>{{kPath, c.bytes}}));
    EXPECT_EQ(platform.OpenFileCount(), 0u);
  }
}

TEST(MemIniFileIoTest, UnchangedTextIsNotWrittenAgain) {
  const std::string canonical = "[S]\r\nk=v\r\n\r\n";
  const struct {
    std::string bytes;
    std::function<void(TMemIniFile&)> change;
    bool written;
  } cases[] = {
      {canonical, nullptr, false},
      {"\xef\xbb\xbf" + canonical, nullptr, false},
      {canonical, [](TMemIniFile& d) { d.SetValue("S", "k", "v"); }, false},
      {canonical, [](TMemIniFile& d) { d.SetValue("S", "K", "v"); }, true},
      {"[S]\nk=v\n\n", nullptr, true},
      {canonical + "; note\r\n", nullptr, true},
      {"\xef\xbb\xbf", nullptr, false},
      {"", nullptr, false},
      {"; only a comment\r\n", nullptr, true},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.AddFile(kPath, c.bytes);
    // A file nobody may replace is fine as long as it needs no change.
    platform.readOnlyFiles.insert(kPath);
    TMemIniFile doc(platform, kPath);
    EXPECT_TRUE(doc.Loaded());
    if (c.change) c.change(doc);
    if (c.written) {
      EXPECT_EQ(ErrorOf([&] { doc.SaveFile(); }),
                "EFCreateError: Cannot create file \"" + kPath + "\". System error 5")
          << c.bytes;
    } else {
      doc.SaveFile();
      const auto calls = platform.FileCalls();
      EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateTempBeside " + kPath), 0) << c.bytes;
    }
    EXPECT_EQ(platform.files, (std::map<std::string, std::string>{{kPath, c.bytes}}));
    EXPECT_EQ(platform.OpenFileCount(), 0u);
  }
}

TEST(MemIniFileIoTest, SavingTwiceWritesOnceUnlessChangedBetween) {
  FakePlatform platform;
  platform.AddFile(kPath, kOld);
  TMemIniFile doc(platform, kPath);
  const auto writes = [&] {
    const auto calls = platform.FileCalls();
    return std::count(calls.begin(), calls.end(), "ReplaceWith " + kPath);
  };
  doc.SaveFile();
  doc.SaveFile();
  EXPECT_EQ(writes(), 1);
  doc.SetValue("Old", "k", "w");
  doc.SaveFile();
  EXPECT_EQ(writes(), 2);
  EXPECT_EQ(platform.files[kPath], "[Old]\r\nk=w\r\n\r\n");
  // Back to the text as loaded: the file holds the last save now, not that.
  doc.SetValue("Old", "k", "v");
  doc.SaveFile();
  EXPECT_EQ(writes(), 3);
  EXPECT_EQ(platform.files[kPath], "[Old]\r\nk=v\r\n\r\n");
  // The same from a file loaded in canonical form, which a comparison with the loaded text
  // would take for unchanged.
  TMemIniFile canonical(platform, kPath);
  canonical.SetValue("Old", "k", "w");
  canonical.SaveFile();
  canonical.SetValue("Old", "k", "v");
  canonical.SaveFile();
  EXPECT_EQ(writes(), 5);
  EXPECT_EQ(platform.files[kPath], "[Old]\r\nk=v\r\n\r\n");
}

TEST(MemIniFileIoTest, LargeDocumentsAreWrittenPieceByPieceAsSaveTextGivesThem) {
  // Loaded lines in long runs, changed lines between them, pieces far past any buffer.
  std::string text = "\xef\xbb\xbf";
  for (int s = 0; s < 300; ++s) {
    text.append("[S").append(std::to_string(s)).append("]\r\n");
    for (int k = 0; k < 40; ++k) {
      text.append("k").append(std::to_string(k)).append("=").append(50, 'v').append("\r\n");
    }
  }
  text.append("[Long]\r\nx=").append(700 * 1024, 'x').append("\r\n");
  FakePlatform platform;
  platform.AddFile(kPath, text);
  TMemIniFile doc(platform, kPath);
  for (int s = 0; s < 300; s += 3)
    doc.SetValue(std::string("S").append(std::to_string(s)), "k7", "changed");
  doc.SetValue("New", "y", std::string(300 * 1024, 'y'));
  doc.SaveFile();
  EXPECT_EQ(platform.files[kPath], doc.SaveText());
  EXPECT_EQ(platform.files[kPath].substr(0, 3), "\xef\xbb\xbf");
  EXPECT_EQ(platform.OpenFileCount(), 0u);
}

TEST(MemIniFileIoTest, FolderInTheFilesPlaceCountsAsNoFile) {
  FakePlatform platform;
  platform.CreateDirectories(kPath);
  TMemIniFile doc(platform, kPath);
  EXPECT_FALSE(doc.Loaded());
  EXPECT_EQ(doc.SaveText(), "");
}

// Reports success for a write that stored only part of the bytes, as POSIX write may.
class QuietShortWritePlatform : public FakePlatform {
 public:
  SysError WriteFile(FileHandle file, std::string_view data, std::size_t& done) override {
    FakePlatform::WriteFile(file, data, done);
    return 0;
  }
};

TEST(MemIniFileIoTest, FailedSaveLeavesTheFileAsItWas) {
  const std::string created = "EFCreateError: Cannot create file \"" + kPath + "\". ";
  const struct {
    std::function<void(FakePlatform&)> setUp;
    std::string message;
  } cases[] = {
      {[](FakePlatform& p) { p.diskSpace = 10; }, "EWriteError: Stream write error"},
      {[](FakePlatform& p) { p.flushFails = true; }, created + "System error 112"},
      {[](FakePlatform& p) { p.replaceFails = true; }, created + "System error 32"},
      {[](FakePlatform& p) { p.lockedFiles.insert(kPath); }, created + "System error 32"},
      {[](FakePlatform& p) { p.readOnlyDirs.insert("C:\\Pbk"); }, created + "System error 5"},
  };
  for (const auto& c : cases) {
    QuietShortWritePlatform platform;
    platform.AddFile(kPath, kOld);
    TMemIniFile doc(platform, kPath);
    doc.SetValue("Old", "more", std::string(100, 'x'));
    c.setUp(platform);
    EXPECT_EQ(ErrorOf([&] { doc.SaveFile(); }), c.message);
    EXPECT_EQ(platform.files, (std::map<std::string, std::string>{{kPath, kOld}})) << c.message;
    EXPECT_EQ(platform.OpenFileCount(), 0u);
  }
}

TEST(MemIniFileIoTest, SaveFailuresNameTheFullPath) {
  const struct {
    std::string name;
    std::function<void(FakePlatform&)> setUp;
    std::string message;
  } cases[] = {
      {"", nullptr, "Cannot create file \"\". The file name is empty"},
      {"C:\\Gone\\x.pbk", nullptr, "Cannot create file \"C:\\Gone\\x.pbk\". System error 3"},
      {"x.pbk", [](FakePlatform& p) { p.readOnlyDirs.insert(""); },
       "Cannot create file \"C:\\Work\\x.pbk\". System error 5"},
      // No full path to be had (a name too long for the system): the name as given.
      {"x.pbk",
       [](FakePlatform& p) {
         p.readOnlyDirs.insert("");
         p.fullPathFails = true;
       },
       "Cannot create file \"x.pbk\". System error 5"},
      {kPath, [](FakePlatform& p) { p.CreateDirectories(kPath); },
       "Cannot create file \"" + kPath + "\". System error 5"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    if (c.setUp) c.setUp(platform);
    TMemIniFile doc(platform, c.name);
    doc.SetValue("S", "k", "v");
    EXPECT_EQ(ErrorOf([&] { doc.SaveFile(); }), "EFCreateError: " + c.message);
    EXPECT_TRUE(platform.files.empty()) << c.message;
  }
}

}  // namespace
}  // namespace lw
