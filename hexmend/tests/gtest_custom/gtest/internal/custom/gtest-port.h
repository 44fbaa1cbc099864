// GoogleTest's injection point for a platform's own pieces, for the Windows
// cross build. GoogleTest's Notification needs std::mutex, which the win32
// thread model of mingw-w64's C++ library does not have; GoogleTest waits on
// one only when it starts threads of its own (its own tests do), and this
// one spins.
#pragma once

#include <atomic>

#if defined(__MINGW32__) && !defined(_GLIBCXX_HAS_GTHREADS)

namespace testing {
namespace internal {

class Notification {
  public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

  private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1

#endif
