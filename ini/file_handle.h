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
  explicit operator bool() const { return handle_ != kInvalidFile; }

  // Hands the file over to a call that closes it.
  FileHandle Release() {
    const FileHandle handle = handle_;
    handle_ = kInvalidFile;
    return handle;
  }

  // Closes the file now; later calls do nothing.
  void Close() noexcept {
    if (handle_ == kInvalidFile) return;
    const FileHandle handle = Release();
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
