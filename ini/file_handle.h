// Ownership of an open platform file: closed when the owner goes.
#pragma once

#include "platform/platform.h"

namespace lw {

class OpenFile {
 public:
  OpenFile(Platform& platform, FileHandle handle) : platform_(platform), handle_(handle) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() noexcept { Close(); }

  FileHandle Get() const { return handle_; }

  // Closes the file now; later calls do nothing.
  void Close() noexcept {
    if (handle_ == kInvalidFile) return;
    const FileHandle handle = handle_;
    handle_ = kInvalidFile;
    try {
      platform_.CloseFile(handle);
    } catch (...) {
      // A close that throws must not end the process from a destructor.
    }
  }

 private:
  Platform& platform_;
  FileHandle handle_;
};

}  // namespace lw
