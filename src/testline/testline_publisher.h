// Publishes one bench on the test line: its state (retained, offline as the
// last will), its live readouts at a bounded rate and its events (QoS 1,
// kept on disk until the broker took them). Everything is sent from a
// thread of its own; the session's side only leaves items here, bounded,
// and never waits for the broker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "testline/testline_messages.h"
#include "testline/testline_settings.h"

namespace rolta {

class MqttClient;

struct PublisherCounters {
  bool connected = false;
  std::uint64_t eventsSent = 0;     // acknowledged by the broker
  std::uint64_t eventsWaiting = 0;  // on disk, not yet acknowledged
  std::uint64_t eventsDropped = 0;  // dropped for room, this run
  std::uint64_t liveSent = 0;
};

class TestLinePublisher {
 public:
  // Events waiting in the session's hand-over before they reach the disk queue.
  static constexpr std::size_t kHandOverCapacity = 1000;

  // `queueFile` keeps the events the broker has not taken; empty: memory only.
  TestLinePublisher(TestLineSettings settings, std::string bench, std::filesystem::path queueFile);
  // Says offline (retained) when connected, then disconnects.
  ~TestLinePublisher();
  TestLinePublisher(const TestLinePublisher&) = delete;
  TestLinePublisher& operator=(const TestLinePublisher&) = delete;

  // False with the reason when the settings cannot be used.
  bool Start(std::string* error = nullptr);

  // From the session's side; each returns at once.
  void SetState(const BenchState& state);
  // The latest sample replaces one not yet sent; sent at the settings' rate at most.
  void OfferLive(const LiveSample& sample);
  // One event: a short kind ("command-sent") and a JSON value with the details.
  void PublishEvent(std::string_view kind, std::string_view detailJson);

  const std::string& Bench() const { return bench_; }
  PublisherCounters Counters() const;

 private:
  struct Inbox;
  void Run();
  void PublishWaitingEvents(bool all);
  void PublishState(const BenchState& state);

  TestLineSettings settings_;
  std::string bench_;
  std::filesystem::path queueFile_;
  std::shared_ptr<Inbox> inbox_;
  std::unique_ptr<MqttClient> client_;
  std::thread thread_;
};

// $XDG_STATE_HOME/rolta/testline-<bench>.events, else ~/.local/state/rolta/...
std::filesystem::path EventQueuePath(const std::string& bench);

}  // namespace rolta
