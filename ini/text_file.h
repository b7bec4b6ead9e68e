// Whole-file reads and safe whole-file replacement, raising the stream errors.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace lw {

// Reasons given in place of a system text when a file is refused.
inline constexpr std::string_view kNulByteReason =
    "The file holds a NUL byte (UTF-16 or damaged text)";
inline constexpr std::string_view kShortReadReason = "The file could not be read whole";
inline constexpr std::string_view kTooLargeReason = "The file is too large to load";
inline constexpr std::string_view kEmptyNameReason = "The file name is empty";

// The platform's text for `error` without its trailing blanks, control bytes and full stops.
std::string SystemErrorReason(Platform& platform, SysError error);

// The bytes of the file, read with one read of its whole length. Raises EFOpenError when
// the file cannot be opened or read whole, or holds a NUL byte.
std::string ReadTextFile(Platform& platform, std::string_view fileName);

// Replaces the file by `bytes`: written to a new file beside it, flushed, then put in its
// place in one step. On any failure the target is left as it was and nothing else stays
// behind; raises EFCreateError, or EWriteError when the write falls short.
void WriteTextFile(Platform& platform, std::string_view fileName, std::string_view bytes);

}  // namespace lw
