#include "ini/text_file.h"

#include <cstdint>
#include <limits>
#include <utility>

#include "ini/file_handle.h"
#include "ini/stream_errors.h"

namespace lw {
namespace {

// "Cannot open file "<full path>". <reason>"
std::string FileMessage(Platform& platform, std::string_view prefix, std::string_view fileName,
                        std::string_view reason) {
  std::string message(prefix);
  message += " \"";
  message += platform.FullPathName(fileName);
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
      // Nothing more can be done about a stray file while unwinding.
    }
  }

  const std::string& Path() const { return path_; }
  void Placed() { placed_ = true; }

 private:
  Platform& platform_;
  std::string path_;
  bool placed_ = false;
};

}  // namespace

std::string SystemErrorReason(Platform& platform, SysError error) {
  std::string text = platform.SystemErrorText(error);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 0x20 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

std::string ReadTextFile(Platform& platform, std::string_view fileName) {
  SysError error = 0;
  OpenFile file(platform, platform.OpenForRead(fileName, error));
  if (file.Get() == kInvalidFile) {
    RaiseOpenError(platform, fileName, SystemErrorReason(platform, error));
  }
  std::uint64_t size = 0;
  if (!platform.GetFileSize(file.Get(), size, error)) {
    RaiseOpenError(platform, fileName, SystemErrorReason(platform, error));
  }
  std::string text;
  if (size > std::numeric_limits<std::size_t>::max() || size > text.max_size()) {
    RaiseOpenError(platform, fileName, kTooLargeReason);
  }
  text.resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  if (!text.empty() && !platform.ReadFile(file.Get(), text.data(), text.size(), done, error)) {
    RaiseOpenError(platform, fileName, SystemErrorReason(platform, error));
  }
  // Loading part of a file, or text cut at a NUL, would lose the rest at the next save.
  if (done != text.size()) RaiseOpenError(platform, fileName, kShortReadReason);
  if (text.find('\0') != std::string::npos) RaiseOpenError(platform, fileName, kNulByteReason);
  return text;
}

void WriteTextFile(Platform& platform, std::string_view fileName, std::string_view bytes) {
  if (fileName.empty()) RaiseCreateError(platform, fileName, kEmptyNameReason);
  SysError error = 0;
  std::string tempPath;
  const FileHandle handle = platform.CreateTempBeside(fileName, tempPath, error);
  if (handle == kInvalidFile) {
    RaiseCreateError(platform, fileName, SystemErrorReason(platform, error));
  }
  // Declared in this order so that the file is closed before it is removed.
  TempFile temp(platform, std::move(tempPath));
  OpenFile file(platform, handle);
  if (!bytes.empty()) {
    std::size_t done = 0;
    if (!platform.WriteFile(file.Get(), bytes, done, error) || done != bytes.size()) {
      throw EWriteError("Stream write error");
    }
  }
  if (!platform.FlushFile(file.Get(), error)) {
    RaiseCreateError(platform, fileName, SystemErrorReason(platform, error));
  }
  file.Close();
  if (!platform.ReplaceWith(temp.Path(), fileName, error)) {
    RaiseCreateError(platform, fileName, SystemErrorReason(platform, error));
  }
  temp.Placed();
}

}  // namespace lw
