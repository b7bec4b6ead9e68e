#include "ini/text_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "ini/stream_errors.h"
#include "platform/handles.h"

namespace lw {
namespace {

// "Cannot open file "<full path>". <reason>"; the name as given where the system has no
// full path for it.
std::string FileMessage(Platform& platform, std::string_view prefix, std::string_view fileName,
                        std::string_view reason) {
  std::string message(prefix);
  message += " \"";
  const std::string full = platform.FullPathName(fileName);
  message += full.empty() ? fileName : full;
  message += "\". ";
  message += reason;
  return message;
}

[[noreturn]] void RaiseOpenError(Platform& platform, std::string_view fileName,
                                 std::string_view reason) {
  throw EFOpenError(FileMessage(platform, "Cannot open file", fileName, reason));
}

[[noreturn]] void RaiseCreateError(Platform& platform, std::string_view fileName,
                                   std::string_view reason) {
  throw EFCreateError(FileMessage(platform, "Cannot create file", fileName, reason));
}

// Pauses between tries while another program holds a file: short at first, for the
// moments a reader takes, then longer, for a scanner or a backup agent.
constexpr std::uint32_t kFirstHeldPauseMs = 10;
constexpr std::uint32_t kLongestHeldPauseMs = 500;

// Tries `attempt` until it gives anything but a sharing violation, or kLockWaitMs pass.
template <typename Attempt>
SysError WhileHeld(Platform& platform, Attempt&& attempt) {
  const std::uint64_t start = platform.Milliseconds();
  for (std::uint32_t pause = kFirstHeldPauseMs;; pause = std::min(pause * 2, kLongestHeldPauseMs)) {
    const SysError error = attempt();
    if (error != kErrorSharingViolation) return error;
    const std::uint64_t waited = platform.Milliseconds() - start;
    if (waited >= kLockWaitMs) return error;
    platform.Sleep(
        static_cast<std::uint32_t>(std::min<std::uint64_t>(pause, kLockWaitMs - waited)));
  }
}

// A temporary file that is removed unless it was put in place.
class TempFile {
 public:
  TempFile(Platform& platform, std::string path) : platform_(platform), path_(std::move(path)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() noexcept {
    if (placed_) return;
    try {
      platform_.RemoveFile(path_);
    } catch (...) {
      // Nothing more can be done about a stray file while unwinding; a later save
      // removes it once it is old.
    }
  }

  const std::string& Path() const { return path_; }
  void Placed() { placed_ = true; }

 private:
  Platform& platform_;
  std::string path_;
  bool placed_ = false;
};

// Gathers small pieces into writes of kChunk bytes; larger pieces go out as they are.
class BufferedWrites final : public TextSink {
 public:
  // Large enough that writes cost little, small enough that its fresh memory does too.
  static constexpr std::size_t kChunk = 256 * 1024;

  BufferedWrites(Platform& platform, FileHandle file) : platform_(platform), file_(file) {}

  void Append(std::string_view bytes) override {
    if (buffer_.size() + bytes.size() > kChunk) {
      Flush();
      if (bytes.size() >= kChunk) {
        Write(bytes);
        return;
      }
    }
    if (buffer_.capacity() < kChunk) buffer_.reserve(kChunk);
    buffer_ += bytes;
  }

  void Flush() {
    Write(buffer_);
    buffer_.clear();
  }

 private:
  void Write(std::string_view bytes) {
    if (bytes.empty()) return;
    std::size_t done = 0;
    if (platform_.WriteFile(file_, bytes, done) != 0 || done != bytes.size()) {
      throw EWriteError("Stream write error");
    }
  }

  Platform& platform_;
  FileHandle file_;
  std::string buffer_;
};

}  // namespace

std::string SystemErrorReason(Platform& platform, SysError error) {
  switch (error) {
    case kErrorLockTimeout:
      return "Another run of this tool holds the file";
    case kErrorNotInCodePage:
      return "The name cannot be written in this system's code page";
    case kErrorNotRegularFile:
      return "Not a regular file";
    case kErrorLinkRefused:
      return "The path leads through a link or junction";
    case kErrorFileChanged:
      return "Another program changed the file meanwhile";
    case kErrorVolumeUnreachable:
      return "The drive or network share that holds it does not answer";
    default:
      break;
  }
  std::string text = platform.SystemErrorText(error);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 0x20 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

void RaiseCreateError(Platform& platform, std::string_view fileName, SysError error) {
  RaiseCreateError(platform, fileName, SystemErrorReason(platform, error));
}

bool ReadTextFileIfPresent(Platform& platform, std::string_view fileName, std::string& text,
                           FileStamp* stamp) {
  FileHandle handle = kInvalidFile;
  if (const SysError error =
          WhileHeld(platform, [&] { return platform.OpenForRead(fileName, handle); })) {
    RaiseOpenError(platform, fileName, SystemErrorReason(platform, error));
  }
  OpenFile file(platform, handle);
  if (!file) return false;
  std::uint64_t size = 0;
  if (const SysError error = platform.GetFileSize(file.Get(), size)) {
    RaiseOpenError(platform, fileName, SystemErrorReason(platform, error));
  }
  if (stamp != nullptr) {
    if (const SysError error = platform.GetFileStamp(file.Get(), *stamp)) {
      RaiseOpenError(platform, fileName, SystemErrorReason(platform, error));
    }
  }
  std::string bytes;
  if (size > std::numeric_limits<std::size_t>::max() || size > bytes.max_size()) {
    RaiseOpenError(platform, fileName, kTooLargeReason);
  }
  bytes.resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  if (!bytes.empty()) {
    if (const SysError error = platform.ReadFile(file.Get(), bytes.data(), bytes.size(), done)) {
      RaiseOpenError(platform, fileName, SystemErrorReason(platform, error));
    }
  }
  // Loading part of a file, or text cut at a NUL, would lose the rest at the next save.
  if (done != bytes.size()) RaiseOpenError(platform, fileName, kShortReadReason);
  if (bytes.find('\0') != std::string::npos) RaiseOpenError(platform, fileName, kNulByteReason);
  text = std::move(bytes);
  return true;
}

std::string ReadTextFile(Platform& platform, std::string_view fileName) {
  std::string text;
  if (!ReadTextFileIfPresent(platform, fileName, text)) {
    RaiseOpenError(platform, fileName, kAbsentReason);
  }
  return text;
}

std::optional<FileStamp> WriteTextFile(Platform& platform, std::string_view fileName,
                                       const ExpectedFile& expected,
                                       const std::function<void(TextSink&)>& produce) {
  if (fileName.empty()) RaiseCreateError(platform, fileName, kEmptyNameReason);
  platform.RemoveStaleTemps(fileName);
  FileHandle handle = kInvalidFile;
  std::string tempPath;
  if (const SysError error = platform.CreateTempBeside(fileName, handle, tempPath)) {
    RaiseCreateError(platform, fileName, SystemErrorReason(platform, error));
  }
  // Declared in this order so that the file is closed before it is removed.
  TempFile temp(platform, std::move(tempPath));
  OpenFile file(platform, handle);
  BufferedWrites writes(platform, file.Get());
  produce(writes);
  writes.Flush();
  if (const SysError error = platform.FlushFile(file.Get())) {
    RaiseCreateError(platform, fileName, SystemErrorReason(platform, error));
  }
  const SysError error = WhileHeld(
      platform, [&] { return platform.ReplaceWith(file.Get(), temp.Path(), fileName, expected); });
  if (error == kErrorFileChanged) return std::nullopt;
  if (error != 0) RaiseCreateError(platform, fileName, error);
  temp.Placed();
  // The file now in place, for a later save; an unknown stamp only makes that one read
  // the file again.
  FileStamp placed;
  platform.GetFileStamp(file.Get(), placed);
  return placed;
}

void WriteTextFile(Platform& platform, std::string_view fileName, std::string_view bytes) {
  WriteTextFile(platform, fileName, ExpectedFile{},
                [bytes](TextSink& sink) { sink.Append(bytes); });
}

FileLock::FileLock(Platform& platform, std::string_view fileName) : platform_(platform) {
  if (const SysError error = platform.LockFile(fileName, kLockWaitMs, lock_)) {
    RaiseOpenError(platform, fileName, SystemErrorReason(platform, error));
  }
}

FileLock::~FileLock() noexcept {
  if (lock_ == kNoLock) return;
  try {
    platform_.UnlockFile(lock_);
  } catch (...) {
    // The hold ends with the process anyway.
  }
}

}  // namespace lw
