// Owners of the handles the platform hands out, one type per kind: each gives its handle
// back to the platform when it goes. A hold on a file is owned by the FileLock that takes
// it (ini/text_file.h), a registry key by its TRegistry (support/registry.h).
#pragma once

#include "platform/platform.h"

namespace lw {

// An open file: closed when the owner goes.
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

// An allocated group identifier: freed when the owner goes.
class SidGuard {
 public:
  SidGuard(Platform& platform, SidHandle sid) : platform_(platform), sid_(sid) {}
  SidGuard(const SidGuard&) = delete;
  SidGuard& operator=(const SidGuard&) = delete;
  ~SidGuard() noexcept { platform_.FreeSid(sid_); }

 private:
  Platform& platform_;
  SidHandle sid_;
};

}  // namespace lw
