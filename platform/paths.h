// Pieces of paths as the core writes them: backslash separators (see platform.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lw {

// The folder that holds the file at `path`, without its separator; empty for a bare name.
// (The platforms' own FolderOf keeps the separator, for a name to follow.)
inline std::string ParentFolder(std::string_view path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

}  // namespace lw
