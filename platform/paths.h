// Cutting paths as the core writes them (backslash separators, see platform.h), for the
// core, both platforms and the fake alike.
//
// In the double-byte code pages of East Asia (932, 936, 949, 950) the second byte of a
// character may be 0x5C, the backslash (cp932 "\x83\x5C"): every walk here steps over
// whole characters, told apart by `codePage.IsLeadByte` (the ANSI code page's lead bytes
// on Windows, none natively).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace lw {

// The core's separator, and with it the slash, which Windows takes too (and POSIX).
inline constexpr std::string_view kCoreSeparator = "\\";
inline constexpr std::string_view kSeparators = "\\/";

// A separator where a character starts.
constexpr bool IsSeparator(char c) {
  return kSeparators.find(c) != std::string_view::npos;
}

// Where the character after the one starting at `pos` starts (CharNextA): two bytes on
// for a lead byte with a byte after it, else one.
std::size_t NextCharacter(std::string_view text, std::size_t pos, const Platform& codePage);

// The first of `separators` at or after `from`, where a character starts; npos for none.
std::size_t FindSeparator(std::string_view path, std::size_t from, std::string_view separators,
                          const Platform& codePage);

// The last of `separators` in `path`; npos for none.
std::size_t FindLastSeparator(std::string_view path, std::string_view separators,
                              const Platform& codePage);

// The text after the last of `separators`: all of `path` when it has none.
std::string_view LastPart(std::string_view path, std::string_view separators,
                          const Platform& codePage);

// The text up to the last of `separators`, that separator included, for a name to follow;
// empty for a bare name.
std::string_view FolderPart(std::string_view path, std::string_view separators,
                            const Platform& codePage);

// The folder that holds the file at `path`, without its separator; empty for a bare name.
std::string ParentFolder(std::string_view path, const Platform& codePage);

// Whether `path` ends in one of `separators` (not in the second byte of a character).
bool EndsInSeparator(std::string_view path, std::string_view separators, const Platform& codePage);

// Windows syntax.

// Length of the part of `path` that names no folder to make: "C:\", "C:", "\\server\share\",
// "\\?\C:\", "\".
std::size_t RootLength(std::string_view path, const Platform& codePage);

// Whether `path` names its place without the current drive or folder: a drive letter and
// its root ("C:\..."), or a server and a share ("\\server\share...", "\\?\C:\...").
bool IsFullWindowsPath(std::string_view path, const Platform& codePage);

}  // namespace lw
