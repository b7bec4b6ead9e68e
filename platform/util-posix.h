// Small POSIX helpers shared by the Linux platform and its registry stand-in.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lw::posix {

// An owned file descriptor, closed when it goes; -1 when none.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      if (fd_ != -1) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  ~UniqueFd() noexcept {
    if (fd_ != -1) ::close(fd_);
  }
  int get() const noexcept { return fd_; }
  // Hands the descriptor over; the owner is then empty.
  int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  explicit operator bool() const noexcept { return fd_ != -1; }

 private:
  int fd_;
};

// An open folder listing, closed when it goes.
class UniqueDir {
 public:
  explicit UniqueDir(DIR* dir) noexcept : dir_(dir) {}
  UniqueDir(const UniqueDir&) = delete;
  UniqueDir& operator=(const UniqueDir&) = delete;
  ~UniqueDir() noexcept {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DIR* get() const noexcept { return dir_; }

 private:
  DIR* dir_;
};

// A path of the core with '\' turned into '/'.
std::string NativePath(std::string_view path);

// A native path with '/' turned back into '\'.
std::string CorePath(std::string path);

// Writes all of `data`, going on after partial writes and interruptions.
void WriteAll(int fd, std::string_view data);

// The parts of `path` made absolute against the current directory and resolved by their
// letters alone, as GetFullPathNameA does: empty and "." parts dropped, ".." takes the part
// before it. `trailing` tells whether the path ends in a separator. 0 or errno.
int FullParts(std::string_view path, std::vector<std::string>& parts, bool& trailing);

// The native path of `parts`: "/" and the parts between slashes.
std::string JoinParts(const std::vector<std::string>& parts);

// Fills `buffer` with `size` bytes from the system's random source; false on failure.
bool FillRandom(void* buffer, std::size_t size);

// The letters of RandomName, 64 of them: 6 bits each.
inline constexpr std::string_view kRandomAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// `size` random characters of kRandomAlphabet, nobody can guess.
bool RandomName(std::string& text, std::size_t size = 12);

// Creates a new file exclusively under `prefix` + `randomSize` random characters, relative
// to the folder descriptor `folder` (AT_FDCWD: the current directory), not following a
// link there; `name` receives `prefix` and the characters. -1 with errno on failure.
int CreateUniqueAt(int folder, const std::string& prefix, mode_t mode, std::string& name,
                   std::size_t randomSize = 12);

// The same by path.
int CreateUnique(const std::string& prefix, mode_t mode, std::string& path,
                 std::size_t randomSize = 12);

// mkdir -p; failures are left to the caller's next step.
void MakeDirectories(const std::string& native);

}  // namespace lw::posix
