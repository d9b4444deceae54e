#pragma once
// A stand-in for the UI thread's event loop: calls posted through the
// dispatcher wait in a queue until the test runs them on its own thread.
#include "music/KoTimer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace melo::test {

class TQueueDispatcher {
public:
  TQueueDispatcher() {
    SetUiDispatcher([this](TUiCall call) {
      {
        std::lock_guard lock(FLock);
        FCalls.push_back(std::move(call));
      }
      FPosted.notify_all();
    });
  }
  ~TQueueDispatcher() { SetUiDispatcher({}); }

  // Waits (up to timeout) until a call is queued; true if there is one.
  bool WaitForCall(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(FLock);
    return FPosted.wait_for(lock, timeout, [&] { return !FCalls.empty(); });
  }

  std::size_t Pending() {
    std::lock_guard lock(FLock);
    return FCalls.size();
  }

  // Runs the queued calls (not those they post); returns how many ran.
  int Drain() {
    std::deque<TUiCall> calls;
    {
      std::lock_guard lock(FLock);
      calls.swap(FCalls);
    }
    for (auto& call : calls)
      call();
    return static_cast<int>(calls.size());
  }

private:
  std::mutex FLock;
  std::condition_variable FPosted;
  std::deque<TUiCall> FCalls;
};

} // namespace melo::test
