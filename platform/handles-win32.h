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

// A kernel object handle (file, mutex, token), closed with CloseHandle.
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

// A mutex this thread owns: released, then closed.
class MutexHold {
 public:
  explicit MutexHold(HANDLE mutex) noexcept : mutex_(mutex) {}
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;
  ~MutexHold() noexcept {
    if (mutex_) ::ReleaseMutex(mutex_.Get());
  }
  HANDLE Release() noexcept { return mutex_.Release(); }

 private:
  UniqueHandle mutex_;
};

// Memory the system allocated with LocalAlloc.
class UniqueLocal {
 public:
  UniqueLocal() noexcept = default;
  UniqueLocal(const UniqueLocal&) = delete;
  UniqueLocal& operator=(const UniqueLocal&) = delete;
  ~UniqueLocal() noexcept {
    if (memory_ != nullptr) ::LocalFree(memory_);
  }
  void* Get() const noexcept { return memory_; }
  // For functions that allocate it.
  template <typename T>
  T** Out() noexcept {
    return reinterpret_cast<T**>(&memory_);
  }

 private:
  void* memory_ = nullptr;
};

}  // namespace lw::win32
