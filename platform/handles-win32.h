// Owners of the Win32 handles the platform opens, one type per kind of handle.
#pragma once

#include <windows.h>

#include <utility>

namespace lw::win32 {

// A search handle of FindFirstFileA.
class UniqueFind {
 public:
  explicit UniqueFind(HANDLE handle) noexcept : handle_(handle) {}
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  ~UniqueFind() noexcept {
    if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
  }
  explicit operator bool() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const noexcept { return handle_; }

 private:
  HANDLE handle_;
};

// A kernel object handle (file, token), closed with CloseHandle.
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  // CreateFile's INVALID_HANDLE_VALUE and the others' NULL both mean none.
  explicit UniqueHandle(HANDLE handle) noexcept
      : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    UniqueHandle old(std::exchange(handle_, other.Release()));
    return *this;
  }
  ~UniqueHandle() noexcept {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  HANDLE Get() const noexcept { return handle_; }
  HANDLE Release() noexcept { return std::exchange(handle_, nullptr); }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace lw::win32
