// Plays a session's window thread without Qt: the link's notifications, posted
// from its monitor thread, are queued and handled here one by one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "session/controller_session.h"

namespace rolta::test {

class SessionThread {
 public:
  explicit SessionThread(ControllerSession& session) : session_(session) {
    session_.Port().SetNotifyCallback([this](std::uint32_t events) {
      std::lock_guard lock(mutex_);
      events_.push_back(events);
      arrived_.notify_one();
    });
  }
  ~SessionThread() { session_.Port().SetNotifyCallback({}); }

  // Handles notifications until `done()` or the timeout, presenting after
  // each; returns done().
  template <typename Done>
  bool HandleUntil(Done done, std::chrono::milliseconds timeout, bool present = true) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) HandleOne(present);
    return done();
  }
  // Handles every notification that comes within `span`.
  void HandleFor(std::chrono::milliseconds span) {
    HandleUntil([] { return false; }, span, false);
  }

 private:
  void HandleOne(bool present) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(20), [&] { return !events_.empty(); })) return;
    const std::uint32_t events = events_.front();
    events_.pop_front();
    lock.unlock();
    session_.OnCommNotify(events);
    if (present) session_.Present();
  }

  ControllerSession& session_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::uint32_t> events_;
};

}  // namespace rolta::test
