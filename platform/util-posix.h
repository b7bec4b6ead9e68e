// Small POSIX helpers shared by the Linux platform and its registry stand-in.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace lw::posix {

// An owned file descriptor, closed when it goes; -1 when none.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
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

// A path of the core with '\' turned into '/'.
std::string NativePath(std::string_view path);

// A native path with '/' turned back into '\'.
std::string CorePath(std::string path);

// Upper-cases an ASCII letter; any other byte stays as it is.
char AsciiUpper(char c);

// True when `a` and `b` are equal ignoring ASCII case.
bool EqualIgnoringCase(std::string_view a, std::string_view b);

// The folder part of a path, separator included; empty for a bare name.
std::string_view FolderOf(std::string_view path);

// Writes all of `data`, going on after partial writes and interruptions.
void WriteAll(int fd, std::string_view data);

// Fills `buffer` with `size` bytes from the system's random source; false on failure.
bool FillRandom(void* buffer, std::size_t size);

// `size` random characters from a 64-letter alphabet, 6 bits each, nobody can guess.
bool RandomName(std::string& text, std::size_t size = 12);

// Creates a new file exclusively under `prefix` + `randomSize` random characters, not
// following a link there; -1 with errno on failure.
int CreateUnique(const std::string& prefix, mode_t mode, std::string& path,
                 std::size_t randomSize = 12);

// mkdir -p; failures are left to the caller's next step.
void MakeDirectories(const std::string& native);

}  // namespace lw::posix
