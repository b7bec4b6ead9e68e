// Included before googletest in Windows builds: googletest's Notification needs std::mutex,
// which mingw-w64's win32 thread model lacks (before GCC 13). The tests run one thread;
// this one waits by spinning on an atomic flag, which is correct, if slow, for any number.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
