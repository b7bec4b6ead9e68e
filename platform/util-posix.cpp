#include "platform/util-posix.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace lw::posix {

std::string NativePath(std::string_view path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

std::string CorePath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

void WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t done = ::write(fd, data.data(), data.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    data.remove_prefix(static_cast<std::size_t>(done));
  }
}

int FullParts(std::string_view path, std::vector<std::string>& parts, bool& trailing) {
  parts.clear();
  trailing = !path.empty() && path.back() == '/';
  std::string full;
  if (path.empty() || path[0] != '/') {
    std::string cwd(256, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
      if (errno != ERANGE) return errno;
      cwd.resize(cwd.size() * 2);
    }
    full = cwd.c_str();
    full += '/';
  }
  full += path;
  std::string_view rest = full;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.emplace_back(part);
  }
  return 0;
}

std::string JoinParts(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts) path.append("/").append(part);
  return path.empty() ? "/" : path;
}

bool FillRandom(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::getrandom(bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool RandomName(std::string& text, std::size_t size) {
  static_assert(kRandomAlphabet.size() == 64);
  std::string bytes(size, '\0');
  if (!FillRandom(bytes.data(), bytes.size())) return false;
  text.clear();
  for (const char b : bytes) text += kRandomAlphabet[static_cast<unsigned char>(b) & 63];
  return true;
}

int CreateUniqueAt(int folder, const std::string& prefix, mode_t mode, std::string& name,
                   std::size_t randomSize) {
  std::string random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (!RandomName(random, randomSize)) return -1;
    name = prefix + random;
    const int fd =
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd != -1 || errno != EEXIST) return fd;
  }
  return -1;
}

int CreateUnique(const std::string& prefix, mode_t mode, std::string& path,
                 std::size_t randomSize) {
  return CreateUniqueAt(AT_FDCWD, prefix, mode, path, randomSize);
}

void MakeDirectories(const std::string& native) {
  for (std::size_t pos = 1; pos <= native.size(); ++pos) {
    if (pos == native.size() || native[pos] == '/') ::mkdir(native.substr(0, pos).c_str(), 0777);
  }
}

}  // namespace lw::posix
