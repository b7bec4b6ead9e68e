#include "platform/paths.h"

#include "platform/ascii_case.h"

namespace lw {

std::size_t NextCharacter(std::string_view text, std::size_t pos, const Platform& codePage) {
  return pos + (codePage.IsLeadByte(text[pos]) && pos + 1 < text.size() ? 2 : 1);
}

std::size_t FindSeparator(std::string_view path, std::size_t from, std::string_view separators,
                          const Platform& codePage) {
  for (std::size_t pos = from; pos < path.size(); pos = NextCharacter(path, pos, codePage)) {
    if (separators.find(path[pos]) != std::string_view::npos) return pos;
  }
  return std::string_view::npos;
}

std::size_t FindLastSeparator(std::string_view path, std::string_view separators,
                              const Platform& codePage) {
  std::size_t last = std::string_view::npos;
  for (std::size_t pos = 0;
       (pos = FindSeparator(path, pos, separators, codePage)) != std::string_view::npos; ++pos) {
    last = pos;
  }
  return last;
}

std::string_view LastPart(std::string_view path, std::string_view separators,
                          const Platform& codePage) {
  const std::size_t last = FindLastSeparator(path, separators, codePage);
  return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string_view FolderPart(std::string_view path, std::string_view separators,
                            const Platform& codePage) {
  const std::size_t last = FindLastSeparator(path, separators, codePage);
  return last == std::string_view::npos ? std::string_view() : path.substr(0, last + 1);
}

std::string ParentFolder(std::string_view path, const Platform& codePage) {
  const std::string_view folder = FolderPart(path, kCoreSeparator, codePage);
  return std::string(folder.substr(0, folder.empty() ? 0 : folder.size() - 1));
}

bool EndsInSeparator(std::string_view path, std::string_view separators, const Platform& codePage) {
  return !path.empty() && FindLastSeparator(path, separators, codePage) == path.size() - 1;
}

std::size_t RootLength(std::string_view path, const Platform& codePage) {
  // (A colon is never the second byte of a character.)
  if (path.size() >= 2 && path[1] == ':') {
    return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    std::size_t pos = 2;
    for (int part = 0; part < 2; ++part) {
      pos = FindSeparator(path, pos, kSeparators, codePage);
      if (pos == std::string_view::npos) return path.size();
      ++pos;
    }
    if (path.size() >= pos + 3 && path[pos + 1] == ':' && IsSeparator(path[pos + 2])) {
      pos += 3;
    }
    return pos;
  }
  return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}

bool IsFullWindowsPath(std::string_view path, const Platform& codePage) {
  const char drive = AsciiUpper(path.empty() ? '\0' : path[0]);
  if (path.size() >= 3 && drive >= 'A' && drive <= 'Z' && path[1] == ':' && IsSeparator(path[2])) {
    return true;
  }
  if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || IsSeparator(path[2])) {
    return false;
  }
  const std::size_t server = FindSeparator(path, 2, kSeparators, codePage);
  if (server == std::string_view::npos) return false;
  const std::size_t share = FindSeparator(path, server + 1, kSeparators, codePage);
  return (share == std::string_view::npos ? path.size() : share) > server + 1;
}

}  // namespace lw
