// Whole-file reads, safe whole-file replacement and holds on files against other runs,
// raising the stream errors.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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
inline constexpr std::string_view kAbsentReason = "The file does not exist";

// The first bytes of a text file that says it is UTF-8. The document keeps them as they
// are; the template must not have them.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// How long a run waits for a file that another run of the tool, or another program (a
// scanner, a backup agent), holds.
inline constexpr std::uint32_t kLockWaitMs = 60000;

// The reason for `error`: the tool's own words for its own codes, else the platform's
// text without its trailing blanks, control bytes and full stops.
std::string SystemErrorReason(Platform& platform, SysError error);

// Raises EFCreateError for `fileName` with the reason for `error`.
[[noreturn]] void RaiseCreateError(Platform& platform, std::string_view fileName, SysError error);

// Reads the whole file into `text` with one read of its length; false, `text` untouched,
// when nothing is there to read (see Platform::OpenForRead). Raises EFOpenError when the
// file cannot be opened or read whole, or holds a NUL byte. Waits up to kLockWaitMs while
// another program holds the file. `stamp`, when given, receives which file was read.
bool ReadTextFileIfPresent(Platform& platform, std::string_view fileName, std::string& text,
                           FileStamp* stamp = nullptr);

// The same for a file that must be there.
std::string ReadTextFile(Platform& platform, std::string_view fileName);

// Takes a file's bytes piece by piece.
class TextSink {
 public:
  virtual void Append(std::string_view bytes) = 0;

 protected:
  ~TextSink() = default;
};

// Replaces the file by the bytes `produce` gives its sink: written to a new file beside
// it, flushed, then put in its place in one step, once what is there is `expected` (it
// waits up to kLockWaitMs while another program holds the file). The stamp of the file
// put in place; none, and nothing replaced, when another program changed or replaced the
// file meanwhile. On any failure the target is left as it was and nothing else stays
// behind; raises EFCreateError, or EWriteError when a write falls short. Temporary files
// left there by killed runs are removed first.
std::optional<FileStamp> WriteTextFile(Platform& platform, std::string_view fileName,
                                       const ExpectedFile& expected,
                                       const std::function<void(TextSink&)>& produce);

// The same for bytes at hand, in place of whatever is there.
void WriteTextFile(Platform& platform, std::string_view fileName, std::string_view bytes);

// Holds other runs of the tool off a file for as long as it lives.
class FileLock {
 public:
  // Waits up to kLockWaitMs; raises EFOpenError naming the file when that runs out or the
  // hold cannot be taken.
  FileLock(Platform& platform, std::string_view fileName);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() noexcept;

 private:
  Platform& platform_;
  LockHandle lock_ = kNoLock;
};

}  // namespace lw
