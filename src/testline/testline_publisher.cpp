#include "testline/testline_publisher.h"

#include <chrono>
#include <cstdlib>
#include <set>
#include <unordered_map>
#include <utility>

#include "testline/event_queue.h"
#include "testline/mqtt_client.h"

namespace rolta {

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kQosLive = 0;
constexpr int kQosReliable = 1;
// How long going away waits for the broker to take the offline state.
constexpr auto kGoodbyeWait = std::chrono::milliseconds(1000);
constexpr auto kFlushPeriod = std::chrono::seconds(1);

}  // namespace

// What the session's side and libmosquitto's thread leave for the
// publisher's thread; shared so a late callback never sees it gone.
struct TestLinePublisher::Inbox {
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  std::optional<BenchState> state;
  std::optional<LiveSample> live;
  std::deque<std::string> events;
  std::uint64_t handOverDropped = 0;
  std::uint64_t nextSeq = 1;
  bool connected = false;
  std::uint64_t connections = 0;
  std::vector<int> acknowledged;
  PublisherCounters counters;
};

std::filesystem::path EventQueuePath(const std::string& bench) {
  std::filesystem::path folder;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
    folder = state;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    folder = std::filesystem::path(home) / ".local" / "state";
  } else {
    return {};
  }
  return folder / "rolta" / ("testline-" + bench + ".events");
}

TestLinePublisher::TestLinePublisher(TestLineSettings settings, std::string bench, std::filesystem::path queueFile)
    : settings_(std::move(settings)),
      bench_(std::move(bench)),
      queueFile_(std::move(queueFile)),
      inbox_(std::make_shared<Inbox>()) {
  settings_.liveRate = std::clamp(settings_.liveRate, kMinLiveRate, kMaxLiveRate);
}

TestLinePublisher::~TestLinePublisher() {
  {
    std::lock_guard lock(inbox_->mutex);
    inbox_->stop = true;
  }
  inbox_->wake.notify_all();
  if (thread_.joinable()) thread_.join();
  if (client_) client_->Stop();
}

bool TestLinePublisher::Start(std::string* error) {
  std::weak_ptr<Inbox> weak = inbox_;
  const auto with = [weak](auto action) {
    if (auto inbox = weak.lock()) {
      {
        std::lock_guard lock(inbox->mutex);
        action(*inbox);
      }
      inbox->wake.notify_all();
    }
  };
  MqttCallbacks callbacks;
  callbacks.connected = [with] {
    with([](Inbox& in) {
      in.connected = true;
      ++in.connections;
    });
  };
  callbacks.disconnected = [with] { with([](Inbox& in) { in.connected = false; }); };
  callbacks.acknowledged = [with](int mid) { with([mid](Inbox& in) { in.acknowledged.push_back(mid); }); };
  const std::string stateTopic = TopicOf(settings_.topicPrefix, bench_, TestLineTopic::State);
  BenchState offline;
  offline.online = false;
  if (std::string unusable = UnusableSettings(settings_); !unusable.empty()) {
    if (error) *error = std::move(unusable);
    return false;
  }
  client_ = std::make_unique<MqttClient>(settings_, "rolta-" + bench_, std::move(callbacks),
                                         MqttWill{stateTopic, StateJson(offline, 0)});
  if (!client_->Start()) {
    if (error) *error = client_->Error();
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void TestLinePublisher::SetState(const BenchState& state) {
  {
    std::lock_guard lock(inbox_->mutex);
    inbox_->state = state;
  }
  inbox_->wake.notify_one();
}

void TestLinePublisher::OfferLive(const LiveSample& sample) {
  bool first = false;
  {
    std::lock_guard lock(inbox_->mutex);
    first = !inbox_->live.has_value();
    inbox_->live = sample;
  }
  // A sample waiting already has the thread's attention: no wake per frame.
  if (first) inbox_->wake.notify_one();
}

void TestLinePublisher::PublishEvent(std::string_view kind, std::string_view detailJson) {
  static const std::int64_t run = WallClockMs();
  {
    std::lock_guard lock(inbox_->mutex);
    if (inbox_->events.size() >= kHandOverCapacity) {
      inbox_->events.pop_front();
      ++inbox_->handOverDropped;
    }
    inbox_->events.push_back(EventJson(kind, detailJson, run, inbox_->nextSeq++, WallClockMs()));
  }
  inbox_->wake.notify_one();
}

PublisherCounters TestLinePublisher::Counters() const {
  std::lock_guard lock(inbox_->mutex);
  PublisherCounters counters = inbox_->counters;
  counters.connected = inbox_->connected;
  return counters;
}

void TestLinePublisher::Run() {
  EventQueue queue(queueFile_);
  const std::string liveTopic = TopicOf(settings_.topicPrefix, bench_, TestLineTopic::Live);
  const std::string eventTopic = TopicOf(settings_.topicPrefix, bench_, TestLineTopic::Event);
  const std::string stateTopic = TopicOf(settings_.topicPrefix, bench_, TestLineTopic::State);
  const auto livePeriod =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / settings_.liveRate));
  std::unordered_map<int, std::uint64_t> inFlight;  // message id -> queue key
  std::set<std::uint64_t> sentKeys;                 // published on this connection
  std::uint64_t seenConnections = 0;
  BenchState state;
  bool stateWanted = false;
  Clock::time_point nextLive{};
  Clock::time_point nextFlush{};
  PublisherCounters counters;
  std::uint64_t dropsToReport = 0;  // lost from the hand-over, said once connected

  const auto publishEvent = [&](const EventQueue::Entry& entry) {
    if (const std::optional<int> mid = client_->Publish(eventTopic, entry.message, kQosReliable, false)) {
      inFlight[*mid] = entry.key;
      sentKeys.insert(entry.key);
    }
  };

  std::unique_lock lock(inbox_->mutex);
  while (true) {
    Inbox& in = *inbox_;
    const bool liveDue = in.live && Clock::now() >= nextLive;
    if (!(in.stop || in.state || !in.events.empty() || !in.acknowledged.empty() || in.connections != seenConnections ||
          liveDue)) {
      const auto until = in.live ? nextLive : Clock::now() + std::chrono::seconds(1);
      in.wake.wait_until(lock, until);
      continue;
    }
    if (in.stop) break;
    std::deque<std::string> events = std::exchange(in.events, {});
    std::vector<int> acknowledged = std::exchange(in.acknowledged, {});
    const std::uint64_t handOverDropped = std::exchange(in.handOverDropped, 0);
    if (in.state) {
      state = *std::exchange(in.state, std::nullopt);
      stateWanted = true;
    }
    std::optional<LiveSample> live;
    if (liveDue) live = std::exchange(in.live, std::nullopt);
    const bool connected = in.connected;
    const bool reconnected = in.connections != seenConnections;
    seenConnections = in.connections;
    lock.unlock();

    for (std::string& event : events) queue.Push(std::move(event));
    dropsToReport += handOverDropped;
    for (int mid : acknowledged) {
      const auto it = inFlight.find(mid);
      if (it == inFlight.end()) continue;
      queue.Remove(it->second);
      inFlight.erase(it);
      ++counters.eventsSent;
    }
    // Rewritten at most once a second while events wait: after a long absence
    // the broker acknowledges thousands in small batches. A crash in between
    // sends a few again, never loses one.
    if (queue.Size() == 0 || Clock::now() >= nextFlush) {
      queue.Flush();
      nextFlush = Clock::now() + kFlushPeriod;
    }
    if (reconnected) {
      // The broker may have lost whatever was in flight: all again, in order.
      inFlight.clear();
      sentKeys.clear();
      stateWanted = true;
    }
    if (connected) {
      if (stateWanted) PublishState(state);
      stateWanted = false;
      if (const std::uint64_t dropped = queue.TakeDropped() + std::exchange(dropsToReport, 0); dropped != 0) {
        queue.Push(EventJson("events-dropped", "{\"count\":" + std::to_string(dropped) + "}", 0, 0, WallClockMs()));
      }
      for (const EventQueue::Entry& entry : queue.Entries()) {
        if (!sentKeys.contains(entry.key)) publishEvent(entry);
      }
      if (live) {
        client_->Publish(liveTopic, LiveJson(*live, WallClockMs()), kQosLive, false);
        ++counters.liveSent;
        nextLive = Clock::now() + livePeriod;
      }
    } else if (live) {
      nextLive = Clock::now() + livePeriod;  // not sent: a broker away is not waited for
    }
    counters.eventsWaiting = queue.Size();
    counters.eventsDropped = queue.DroppedThisRun() + dropsToReport;
    lock.lock();
    in.counters = counters;
  }
  const bool connected = inbox_->connected;
  lock.unlock();
  queue.Flush();
  if (!connected) return;
  // Going away: the offline state, waited for a moment so the broker has it.
  BenchState offline;
  offline.online = false;
  const std::optional<int> mid = client_->Publish(stateTopic, StateJson(offline, WallClockMs()), kQosReliable, true);
  if (!mid) return;
  lock.lock();
  inbox_->wake.wait_for(lock, kGoodbyeWait, [&] {
    return std::find(inbox_->acknowledged.begin(), inbox_->acknowledged.end(), *mid) != inbox_->acknowledged.end();
  });
}

void TestLinePublisher::PublishState(const BenchState& state) {
  client_->Publish(TopicOf(settings_.topicPrefix, bench_, TestLineTopic::State), StateJson(state, WallClockMs()),
                   kQosReliable, true);
}

}  // namespace rolta
