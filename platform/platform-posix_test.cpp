// What only the POSIX platform does, and what the shared suite needs of it.
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/platform_test.h"

namespace lw::platform_test {

const SysError kFileNotFound = ENOENT;
const SysError kPathNotFound = ENOENT;
const char kExecutableName[] = "linkwright_tests";

void SetEnv(const std::string& name, const char* value) {
  if (value == nullptr) {
    ::unsetenv(name.c_str());
  } else {
    ::setenv(name.c_str(), value, 1);
  }
}

std::optional<bool> ExpectedAdministrator() {
  return ::geteuid() == 0;
}

struct StdStream::Saved {
  int which;
  int saved;
};

StdStream::StdStream(Which which, const fs::path& file) {
  const int id = which == kIn ? 0 : which == kOut ? 1 : 2;
  std::fflush(nullptr);
  saved_ = std::make_unique<Saved>(Saved{id, ::dup(id)});
  const int fd = ::open(file.c_str(), which == kIn ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, id);
  ::close(fd);
}

StdStream::~StdStream() {
  ::dup2(saved_->saved, saved_->which);
  ::close(saved_->saved);
}

namespace {

using ::testing::StartsWith;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

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

// --- No link followed below a trusted folder ---

// Things an attacker or a careless hand puts in place of a file or folder.
enum class Thing {
  kFifo,
  kSocket,
  kDanglingLink,
  kLinkLoop,
  kLinkToFile,
  kLinkToFolder,
  kFile,
  kFolder
};

constexpr struct {
  Thing thing;
  const char* name;
  bool link;
} kThings[] = {
    {Thing::kFifo, "FIFO", false},
    {Thing::kSocket, "socket", false},
    {Thing::kDanglingLink, "dangling link", true},
    {Thing::kLinkLoop, "link loop", true},
    {Thing::kLinkToFile, "link to a file", true},
    {Thing::kLinkToFolder, "link to a folder", true},
    {Thing::kFile, "regular file", false},
    {Thing::kFolder, "folder", false},
};

const auto& InfoOf(Thing thing) {
  return *std::find_if(std::begin(kThings), std::end(kThings),
                       [thing](const auto& info) { return info.thing == thing; });
}

const char* NameOf(Thing thing) {
  return InfoOf(thing).name;
}

bool IsLink(Thing thing) {
  return InfoOf(thing).link;
}

// Puts `thing` at `at`; links lead into `decoy`.
void Make(Thing thing, const fs::path& at, const fs::path& decoy) {
  switch (thing) {
    case Thing::kFifo:
      ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0) << at;
      break;
    case Thing::kSocket: {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      ASSERT_LT(at.string().size(), sizeof address.sun_path) << at;
      std::strcpy(address.sun_path, at.c_str());
      ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << at;
      ::close(fd);
      break;
    }
    case Thing::kDanglingLink:
    case Thing::kLinkLoop:
    case Thing::kLinkToFile:
    case Thing::kLinkToFolder:
      fs::create_symlink(thing == Thing::kDanglingLink ? decoy / "nothing-here"
                         : thing == Thing::kLinkLoop   ? at
                         : thing == Thing::kLinkToFile ? decoy / "rasphone.pbk"
                                                       : decoy,
                         at);
      break;
    case Thing::kFile: {
      std::ofstream(at) << "[file]\n";
      break;
    }
    case Thing::kFolder:
      fs::create_directory(at);
      break;
  }
}

// Everything below `root` with its kind and contents, links not followed.
void Snapshot(const fs::path& root, const fs::path& folder,
              std::map<std::string, std::string>& entries) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    const fs::path& path = entry.path();
    const fs::file_type type = fs::symlink_status(path).type();
    std::string what = std::to_string(static_cast<int>(type));
    if (type == fs::file_type::symlink) what += " -> " + fs::read_symlink(path).string();
    if (type == fs::file_type::regular) what += " " + Contents(path);
    entries[path.lexically_relative(root).string()] = what;
    if (type == fs::file_type::directory) Snapshot(root, path, entries);
  }
}

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  Snapshot(root, root, entries);
  return entries;
}

// The per-user phonebook's layout below a trusted AppData, and a decoy folder that no
// file call may reach through a link.
class PlatformLinkTest : public PlatformTest {
 protected:
  static constexpr const char* kLevels[] = {"Microsoft", "Network", "Connections", "Pbk"};

  PlatformLinkTest() {
    fs::create_directories(Pbk());
    dir_.Write("AppData/Microsoft/Network/Connections/Pbk/rasphone.pbk", "[old]\r\n");
    fs::create_directory(Decoy());
    dir_.Write("decoy/rasphone.pbk", "[decoy]\r\n");
  }

  fs::path AppData() const { return dir_.Native("AppData"); }
  fs::path Pbk() const { return AppData() / "Microsoft" / "Network" / "Connections" / "Pbk"; }
  fs::path Decoy() const { return dir_.Native("decoy"); }
  std::string Phonebook() const {
    return dir_.CorePath("AppData\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk");
  }
  // The path of level `depth` (0: Microsoft ... 3: Pbk).
  fs::path Level(std::size_t depth) const {
    fs::path path = AppData();
    for (std::size_t i = 0; i <= depth; ++i) path /= kLevels[i];
    return path;
  }
};

TEST_F(PlatformLinkTest, ThingsInThePhonebooksPlace) {
  const struct {
    Thing thing;
    SysError read;  // OpenForRead's code; 0: nothing there
    SysError replace;
  } cases[] = {
      {Thing::kFifo, kErrorNotRegularFile, kErrorNotRegularFile},
      {Thing::kSocket, kErrorNotRegularFile, kErrorNotRegularFile},
      {Thing::kDanglingLink, kErrorLinkRefused, kErrorLinkRefused},
      {Thing::kLinkLoop, kErrorLinkRefused, kErrorLinkRefused},
      {Thing::kLinkToFile, kErrorLinkRefused, kErrorLinkRefused},
      {Thing::kLinkToFolder, kErrorLinkRefused, kErrorLinkRefused},
      {Thing::kFolder, 0, EISDIR},
  };
  // The last part of a path is never followed, trusted folder or not.
  for (const bool trusted : {true, false}) {
    const auto platform = CreateSystemPlatform(1, argv_);
    if (trusted) platform->TrustFolder(dir_.CorePath("AppData"));
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(NameOf(c.thing)) + (trusted ? ", trusted" : ""));
      const fs::path target = Pbk() / "rasphone.pbk";
      fs::remove(target);
      Make(c.thing, target, Decoy());
      const auto before = Snapshot(dir_.Native());
      FileHandle file = kInvalidFile;
      EXPECT_EQ(platform->OpenForRead(Phonebook(), file), c.read);
      EXPECT_EQ(file, kInvalidFile);
      LockHandle lock = kNoLock;
      ASSERT_EQ(platform->LockFile(Phonebook(), 1000, lock), 0u);
      EXPECT_NE(lock, kNoLock);
      FileHandle temp = kInvalidFile;
      std::string tempPath;
      ASSERT_EQ(platform->CreateTempBeside(Phonebook(), temp, tempPath), 0u);
      EXPECT_EQ(platform->ReplaceWith(temp, tempPath, Phonebook(), {}), c.replace);
      platform->CloseFile(temp);
      EXPECT_EQ(platform->RemoveFile(tempPath), 0u);
      platform->UnlockFile(lock);
      EXPECT_EQ(Snapshot(dir_.Native()), before);
      fs::remove_all(target);
    }
  }
}

TEST_F(PlatformLinkTest, ThingsInAFoldersPlace) {
  const Thing things[] = {Thing::kFifo,     Thing::kSocket,     Thing::kDanglingLink,
                          Thing::kLinkLoop, Thing::kLinkToFile, Thing::kLinkToFolder,
                          Thing::kFile};
  const auto platform = CreateSystemPlatform(1, argv_);
  platform->TrustFolder(dir_.CorePath("AppData"));
  for (std::size_t depth = 0; depth < std::size(kLevels); ++depth) {
    for (const Thing thing : things) {
      SCOPED_TRACE(std::string(NameOf(thing)) + " as " + kLevels[depth]);
      fs::remove_all(AppData() / "Microsoft");
      fs::create_directories(Level(depth).parent_path());
      Make(thing, Level(depth), Decoy());
      const auto before = Snapshot(dir_.Native());
      // A link is refused; anything else that is no folder means the path is not there.
      const SysError refused = IsLink(thing) ? kErrorLinkRefused : 0;
      LockHandle lock = kNoLock;
      EXPECT_EQ(platform->LockFile(Phonebook(), 1000, lock), refused);
      EXPECT_EQ(lock, kNoLock);
      FileHandle file = kInvalidFile;
      EXPECT_EQ(platform->OpenForRead(Phonebook(), file), refused);
      EXPECT_EQ(file, kInvalidFile);
      std::string tempPath;
      EXPECT_EQ(platform->CreateTempBeside(Phonebook(), file, tempPath),
                IsLink(thing) ? kErrorLinkRefused : ENOTDIR);
      EXPECT_EQ(file, kInvalidFile);
      EXPECT_EQ(platform->RemoveFile(Phonebook()), IsLink(thing) ? kErrorLinkRefused : ENOTDIR);
      platform->RemoveStaleTemps(Phonebook());
      platform->CreateDirectories(dir_.CorePath("AppData\\Microsoft\\Network\\Connections\\Pbk"));
      EXPECT_EQ(Snapshot(dir_.Native()), before);
    }
  }
}

TEST_F(PlatformLinkTest, LinksAboveTheLastPartAreFollowedOnlyOutsideTrustedFolders) {
  fs::remove_all(AppData() / "Microsoft");
  fs::create_directory_symlink(Decoy(), AppData() / "Microsoft");
  const std::string path = dir_.CorePath("AppData\\Microsoft\\rasphone.pbk");
  const struct {
    bool trusted;
    SysError read;
    bool opens;
  } cases[] = {{false, 0, true}, {true, kErrorLinkRefused, false}};
  for (const auto& c : cases) {
    const auto platform = CreateSystemPlatform(1, argv_);
    if (c.trusted) platform->TrustFolder(dir_.CorePath("AppData"));
    FileHandle file = kInvalidFile;
    EXPECT_EQ(platform->OpenForRead(path, file), c.read) << c.trusted;
    EXPECT_EQ(file != kInvalidFile, c.opens) << c.trusted;
    platform->CloseFile(file);
  }
}

TEST_F(PlatformLinkTest, TheTrustedFolderItselfMayBeALink) {
  fs::create_directory(dir_.Native("real"));
  fs::create_directory_symlink(dir_.Native("real"), dir_.Native("linked"));
  // Anywhere in its own path, too.
  const std::string folder = dir_.CorePath("linked\\.\\AppData");
  platform_->TrustFolder(folder + "\\");
  const std::string phonebook = folder + "\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
  platform_->CreateDirectories(folder + "\\Microsoft\\Network\\Connections\\Pbk");
  LockHandle lock = kNoLock;
  ASSERT_EQ(platform_->LockFile(phonebook, 1000, lock), 0u);
  EXPECT_NE(lock, kNoLock);
  const Temp temp = WriteTemp(phonebook, "[new]\r\n");
  ASSERT_EQ(Replace(temp, phonebook), 0u);
  platform_->UnlockFile(lock);
  EXPECT_EQ(dir_.Read("real/AppData/Microsoft/Network/Connections/Pbk/rasphone.pbk"), "[new]\r\n");
  EXPECT_EQ(ReadThrough(phonebook), "[new]\r\n");
}

TEST_F(PlatformLinkTest, ReplaceWorksInTheFolderTheTempFileWasMadeIn) {
  platform_->TrustFolder(dir_.CorePath("AppData"));
  const Temp temp = WriteTemp(Phonebook(), "[new]\r\n");
  // The folder moves away and another takes its name: the new text goes beside the temp.
  fs::rename(Pbk(), Pbk().parent_path() / "moved");
  fs::create_directory(Pbk());
  ASSERT_EQ(Replace(temp, Phonebook()), 0u);
  EXPECT_EQ(Contents(Pbk().parent_path() / "moved" / "rasphone.pbk"), "[new]\r\n");
  EXPECT_TRUE(fs::is_empty(Pbk()));
}

TEST_F(PlatformLinkTest, OnlyTheFileWrittenGoesIntoPlace) {
  platform_->TrustFolder(dir_.CorePath("AppData"));
  const struct {
    const char* name;
    std::function<void(const fs::path&)> swap;
  } cases[] = {
      {"link", [&](const fs::path& temp) { fs::create_symlink(Decoy() / "rasphone.pbk", temp); }},
      {"hard link",
       [&](const fs::path& temp) { fs::create_hard_link(Decoy() / "rasphone.pbk", temp); }},
      {"other file", [&](const fs::path& temp) { std::ofstream(temp) << "[other]\r\n"; }},
  };
  for (const auto& c : cases) {
    const Temp temp = WriteTemp(Phonebook(), "[new]\r\n");
    const fs::path tempFile = Pbk() / temp.path.substr(temp.path.rfind('\\') + 1);
    fs::remove(tempFile);
    c.swap(tempFile);
    EXPECT_EQ(Replace(temp, Phonebook()), static_cast<SysError>(ENOENT)) << c.name;
    EXPECT_EQ(Contents(Pbk() / "rasphone.pbk"), "[old]\r\n") << c.name;
    EXPECT_TRUE(fs::is_symlink(tempFile) || fs::is_regular_file(tempFile)) << c.name;
    EXPECT_EQ(dir_.Read("decoy/rasphone.pbk"), "[decoy]\r\n") << c.name;
    fs::remove(tempFile);
  }
}

// --- Owner and permissions ---

TEST_F(PlatformSaveTest, ReplacingTakesNoSetIdOrStickyBits) {
  const std::string target = dir_.CorePath("rasphone.pbk");
  for (const mode_t mode :
       {mode_t{04755}, mode_t{02755}, mode_t{01644}, mode_t{06777}, mode_t{0640}, mode_t{0444}}) {
    dir_.Write("rasphone.pbk", "old");
    ASSERT_EQ(::chmod(dir_.Native("rasphone.pbk").c_str(), mode), 0);
    const mode_t given = ModeOf(dir_.Native("rasphone.pbk"));  // as the system allowed it
    ReadThrough(target);
    const Temp temp = WriteTemp(target, "new");
    // Read-only binds a normal user; root may replace it.
    if ((given & 0200) == 0 && ::geteuid() != 0) {
      EXPECT_EQ(Replace(temp, target), static_cast<SysError>(EACCES)) << std::oct << mode;
      EXPECT_EQ(platform_->RemoveFile(temp.path), 0u);
      continue;
    }
    ASSERT_EQ(Replace(temp, target), 0u) << std::oct << mode;
    EXPECT_EQ(dir_.Read("rasphone.pbk"), "new");
    EXPECT_EQ(ModeOf(dir_.Native("rasphone.pbk")), given & 0777) << std::oct << mode;
  }
}

TEST_F(PlatformSaveTest, ReadOnlyPhonebookRefusedForANormalUser) {
  fs::create_directory(dir_.Native("Pbk"));
  const std::string target = dir_.CorePath("Pbk\\rasphone.pbk");
  for (const mode_t mode : {mode_t{0444}, mode_t{0644}}) {
    dir_.Write("Pbk/rasphone.pbk", "old");
    ASSERT_EQ(::chmod(dir_.Native("Pbk/rasphone.pbk").c_str(), mode), 0);
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(dir_.Native("Pbk").c_str(), 65534, 65534), 0);
      ASSERT_EQ(::chown(dir_.Native("Pbk/rasphone.pbk").c_str(), 65534, 65534), 0);
      fs::permissions(dir_.Native(), fs::perms(0755));
    }
    const int status = RunUnprivileged([&] {
      const auto platform = CreateSystemPlatform(1, argv_);
      FileHandle file = kInvalidFile;
      std::string tempPath;
      if (platform->CreateTempBeside(target, file, tempPath) != 0) return 100;
      std::size_t done = 0;
      if (platform->WriteFile(file, "new", done) != 0) return 101;
      const SysError error = platform->ReplaceWith(file, tempPath, target, {});
      platform->CloseFile(file);
      if (error != 0) platform->RemoveFile(tempPath);
      return static_cast<int>(error);
    });
    EXPECT_EQ(status, mode == 0444 ? EACCES : 0) << std::oct << mode;
    EXPECT_EQ(dir_.Read("Pbk/rasphone.pbk"), mode == 0444 ? "old" : "new") << std::oct << mode;
    EXPECT_EQ(ModeOf(dir_.Native("Pbk/rasphone.pbk")), mode);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Native("Pbk")), fs::directory_iterator()),
              1);
  }
}

struct stat StatOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

// The owner of the text read owns the saved text, even if another file took the name
// meanwhile; a file never read passes on its own.
TEST_F(PlatformSaveTest, OwnerAndModeFollowTheFileThatWasRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files away needs root";
  const std::string target = dir_.CorePath("rasphone.pbk");
  const fs::path file = dir_.Native("rasphone.pbk");
  const auto place = [&](uid_t uid, mode_t mode) {
    dir_.Write("swap", "swapped");
    ASSERT_EQ(::chown(dir_.Native("swap").c_str(), uid, uid), 0);
    ASSERT_EQ(::chmod(dir_.Native("swap").c_str(), mode), 0);
    fs::rename(dir_.Native("swap"), file);
  };
  const struct {
    bool read;    // the phonebook was read before the swap
    uid_t owner;  // expected
    mode_t mode;
  } cases[] = {{true, 65534, 0640}, {false, 0, 0600}};
  for (const auto& c : cases) {
    place(65534, 0640);
    if (c.read) {
      EXPECT_EQ(ReadThrough(target), "swapped");
    } else {
      FileHandle none = kInvalidFile;
      fs::remove(file);
      EXPECT_EQ(platform_->OpenForRead(target, none), 0u);
      place(65534, 0640);
    }
    const Temp temp = WriteTemp(target, "new");
    // From the start: the copy is never the process's own while it is written.
    EXPECT_EQ(StatOf(dir_.Native(temp.path.substr(temp.path.rfind('\\') + 1))).st_uid,
              c.read ? 65534u : 0u);
    place(0, 0600);
    ASSERT_EQ(Replace(temp, target), 0u);
    EXPECT_EQ(dir_.Read("rasphone.pbk"), "new");
    EXPECT_EQ(StatOf(file).st_uid, c.owner) << c.read;
    EXPECT_EQ(StatOf(file).st_gid, c.owner) << c.read;
    EXPECT_EQ(ModeOf(file), c.mode) << c.read;
  }
}

// --- Temporary files left by killed runs ---

TEST_F(PlatformSaveTest, StaleTempsRemovedNothingElse) {
  const bool root = ::geteuid() == 0;
  const time_t now = ::time(nullptr);
  fs::create_directory(dir_.Native("elsewhere"));
  dir_.Write("elsewhere/.~lwELSEWHER", "target");
  const struct {
    std::string name;
    std::function<void(const fs::path&)> make;
    time_t age;  // seconds
    bool removed;
  } cases[] = {
      {".~lwAbCd-_09", [](const fs::path& p) { std::ofstream(p) << "x"; }, 11 * 60, true},
      {".~lwOLDOLDOL", [](const fs::path& p) { std::ofstream(p) << "x"; }, 86400, true},
      {".~lwFRESHFRE", [](const fs::path& p) { std::ofstream(p) << "x"; }, 0, false},
      {".~lwNINEMINS", [](const fs::path& p) { std::ofstream(p) << "x"; }, 9 * 60, false},
      {".~lwSEVENCH", [](const fs::path& p) { std::ofstream(p) << "x"; }, 86400, false},
      {".~lwNINECHARS", [](const fs::path& p) { std::ofstream(p) << "x"; }, 86400, false},
      {".~lwBAD.CHAR", [](const fs::path& p) { std::ofstream(p) << "x"; }, 86400, false},
      {"x~lwABCDEFGH", [](const fs::path& p) { std::ofstream(p) << "x"; }, 86400, false},
      {"rasphone.pbk", [](const fs::path& p) { std::ofstream(p) << "x"; }, 86400, false},
      {".~lwLINKLINK",
       [&](const fs::path& p) { fs::create_symlink(dir_.Native("elsewhere/.~lwELSEWHER"), p); },
       86400, false},
      {".~lwFOLDERXX", [](const fs::path& p) { fs::create_directory(p); }, 86400, false},
      {".~lwFIFOFIFO", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }, 86400, false},
      {".~lwOTHERUSR",
       [root](const fs::path& p) {
         std::ofstream(p) << "x";
         // Another user's, when the tests can make it so; else a file of this user's.
         if (root) {
           EXPECT_EQ(::chown(p.c_str(), 65534, 65534), 0);
         }
       },
       86400, !root},
  };
  for (const auto& c : cases) {
    const fs::path path = dir_.Native(c.name);
    c.make(path);
    const timespec times[2] = {{now - c.age, 0}, {now - c.age, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << c.name;
  }
  const timespec old[2] = {{now - 86400, 0}, {now - 86400, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir_.Native("elsewhere/.~lwELSEWHER").c_str(), old, 0), 0);

  platform_->RemoveStaleTemps(dir_.CorePath("rasphone.pbk"));
  for (const auto& c : cases) {
    EXPECT_EQ(!fs::exists(fs::symlink_status(dir_.Native(c.name))), c.removed) << c.name;
  }
  EXPECT_EQ(dir_.Read("elsewhere/.~lwELSEWHER"), "target");
  // A folder that is not there, and one that is a link below a trusted folder: nothing.
  platform_->RemoveStaleTemps(dir_.CorePath("missing\\rasphone.pbk"));
  fs::create_directory_symlink(dir_.Native("elsewhere"), dir_.Native("link"));
  platform_->TrustFolder(dir_.CorePath());
  platform_->RemoveStaleTemps(dir_.CorePath("link\\rasphone.pbk"));
  EXPECT_EQ(dir_.Read("elsewhere/.~lwELSEWHER"), "target");
}

// --- Holds against other runs ---

// A child process that holds `path` until it is killed.
class Holder {
 public:
  Holder(const std::string& path, char** argv) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
      const auto platform = CreateSystemPlatform(1, argv);
      LockHandle lock = kNoLock;
      const bool held = platform->LockFile(path, 0, lock) == 0 && lock != kNoLock;
      [[maybe_unused]] const auto wrote = ::write(ready[1], held ? "h" : "f", 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    held_ = child_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'h';
    ::close(ready[0]);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  ~Holder() { Kill(); }

  bool Held() const { return held_; }
  void Kill() {
    if (child_ <= 0) return;
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
    child_ = -1;
  }

 private:
  pid_t child_ = -1;
  bool held_ = false;
};

std::uint64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - since)
                                        .count());
}

TEST_F(PlatformFileTest, LockWaitsBoundedAndEndsWithTheHolder) {
  const std::string path = dir_.CorePath("rasphone.pbk");
  Holder holder(path, argv_);
  ASSERT_TRUE(holder.Held());
  LockHandle lock = kNoLock;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(platform_->LockFile(path, 150, lock), kErrorLockTimeout);
  EXPECT_EQ(lock, kNoLock);
  EXPECT_GE(ElapsedMs(start), 150u);
  EXPECT_LT(ElapsedMs(start), 2000u);
  // Killed, the holder leaves nothing behind.
  holder.Kill();
  start = std::chrono::steady_clock::now();
  ASSERT_EQ(platform_->LockFile(path, 10000, lock), 0u);
  EXPECT_NE(lock, kNoLock);
  EXPECT_LT(ElapsedMs(start), 1000u);
  // Held by this process: the same hold again; another process waits until both end.
  LockHandle again = kNoLock;
  EXPECT_EQ(platform_->LockFile(dir_.CorePath("other.pbk"), 0, again), 0u);
  EXPECT_NE(again, kNoLock);
  platform_->UnlockFile(lock);
  EXPECT_FALSE(Holder(path, argv_).Held());
  platform_->UnlockFile(again);
  EXPECT_TRUE(Holder(path, argv_).Held());
}

TEST_F(PlatformFileTest, LockWithoutAFolderHoldsNothing) {
  for (const char* name : {"missing\\rasphone.pbk", "file\\rasphone.pbk"}) {
    dir_.Write("file", "x");
    LockHandle lock{7};
    EXPECT_EQ(platform_->LockFile(dir_.CorePath(name), 1000, lock), 0u) << name;
    EXPECT_EQ(lock, kNoLock) << name;
  }
}

// --- Console ---

TEST_F(PlatformProcessTest, ABrokenStandardOutputEndsNothing) {
  const pid_t child = ::fork();
  if (child == 0) {
    int pipe[2];
    if (::pipe(pipe) != 0) ::_exit(100);
    ::close(pipe[0]);
    ::dup2(pipe[1], STDOUT_FILENO);
    const auto platform = CreateSystemPlatform(1, argv_);
    platform->WriteLine("nobody reads this");
    ::close(STDOUT_FILENO);
    platform->WriteLine("nor this");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Closed standard streams are not the files the run opens next: lines go nowhere.
TEST_F(PlatformProcessTest, ClosedStandardStreamsTakeNoFileOfTheRun) {
  const std::string target = dir_.CorePath("rasphone.pbk");
  fs::permissions(dir_.Native(), fs::perms(0777));
  const int status = RunUnprivileged([&] {
    ::close(STDIN_FILENO);
    ::close(STDOUT_FILENO);
    const auto platform = CreateSystemPlatform(1, argv_);
    FileHandle file = kInvalidFile;
    std::string tempPath;
    if (platform->CreateTempBeside(target, file, tempPath) != 0) return 100;
    if (static_cast<int>(file) <= STDERR_FILENO) return 101;
    platform->WriteLine("* a log line");
    if (!platform->ReadLine().empty()) return 102;
    return platform->ReplaceWith(file, tempPath, target, {}) == 0 ? 0 : 103;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(dir_.Read("rasphone.pbk"), "");
}

}  // namespace

std::optional<StoredValue> StoredValueOf(const TempDir& dir, const std::string& keyPath,
                                         const std::string& name) {
  std::string relative = keyPath;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  const fs::path key = dir.Native() / "Registry" / "HKEY_CURRENT_USER" / relative;
  if (!fs::exists(key / name)) return std::nullopt;
  return StoredValue{static_cast<std::uint32_t>(std::stoul(Contents(key / ".types" / name))),
                     Contents(key / name)};
}

void RemoveTestKey(const std::string&) {}  // the registry lives in the test folder

namespace {

TEST_F(PlatformRegistryTest, MachineValueLayout) {
  RegKey key = kNoKey;
  ASSERT_EQ(platform_->CreateKey(kHkeyLocalMachine,
                                 "System\\CurrentControlSet\\Services\\Sstpsvc\\Parameters",
                                 kKeyAllAccess, key),
            0u);
  ASSERT_EQ(platform_->SetValue(key, "NoCertRevocationCheck", kRegDword,
                                std::string("\x01\x00\x00\x00", 4)),
            0u);
  platform_->CloseKey(key);
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
  RegKey key = kNoKey;
  for (const char* path : {"\\Software", "Software\\..\\x", "Software\\.", "a\\.types"}) {
    EXPECT_EQ(platform_->CreateKey(kHkeyCurrentUser, path, kKeyAllAccess, key), kErrorBadPathname)
        << path;
  }
  ASSERT_EQ(platform_->CreateKey(kHkeyCurrentUser, testKey_, kKeyAllAccess, key), 0u);
  for (const char* name : {"", "..", "a/b", ".TYPES"}) {
    EXPECT_EQ(platform_->SetValue(key, name, kRegDword, std::string(4, '\0')),
              kErrorInvalidParameter)
        << name;
  }
  platform_->CloseKey(key);
}

TEST_F(PlatformRegistryTest, NoProgramDataNoRegistry) {
  SetEnv("ProgramData", nullptr);
  const auto platform = CreateSystemPlatform(1, argv_);
  RegKey key = kNoKey;
  EXPECT_NE(platform->CreateKey(kHkeyLocalMachine, "System", kKeyAllAccess, key), 0u);
  EXPECT_FALSE(fs::exists("/Registry"));
}

TEST_F(PlatformRegistryTest, AccessFollowsTheKeyDirectoryPermissions) {
  RegKey key = kNoKey;
  ASSERT_EQ(platform_->CreateKey(kHkeyLocalMachine, "System\\Locked", kKeyAllAccess, key), 0u);
  platform_->CloseKey(key);
  const fs::path locked = dir_.Native() / "Registry" / "HKEY_LOCAL_MACHINE" / "System" / "Locked";
  fs::permissions(dir_.Native(), fs::perms(0755));
  fs::permissions(locked, fs::perms(0555));

  // The code of each call, as the exit status of a process without root's powers.
  const auto open = [this](std::uint32_t access) {
    return static_cast<SysError>(RunUnprivileged([&] {
      const auto platform = CreateSystemPlatform(1, argv_);
      RegKey opened = kNoKey;
      return static_cast<int>(
          platform->OpenKey(kHkeyLocalMachine, "System\\Locked", access, opened));
    }));
  };
  const auto create = [this](const char* path) {
    return static_cast<SysError>(RunUnprivileged([&] {
      const auto platform = CreateSystemPlatform(1, argv_);
      RegKey created = kNoKey;
      return static_cast<int>(platform->CreateKey(kHkeyLocalMachine, path, kKeyAllAccess, created));
    }));
  };
  EXPECT_EQ(open(kKeyAllAccess), kErrorAccessDenied);
  EXPECT_EQ(open(kKeyRead), 0u);
  EXPECT_EQ(create("System\\Locked"), kErrorAccessDenied);
  EXPECT_EQ(create("System\\Locked\\Sub"), kErrorAccessDenied);
  EXPECT_FALSE(fs::exists(locked / "Sub"));
  EXPECT_EQ(RunUnprivileged([this] {
              const auto platform = CreateSystemPlatform(1, argv_);
              SidHandle sid = kNoSid;
              bool member = true;
              return platform->AllocateAdminsSid(sid) == 0 &&
                             platform->CheckTokenMembership(sid, member) == 0 && !member
                         ? 0
                         : 1;
            }),
            0u);
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

}  // namespace
}  // namespace lw::platform_test
