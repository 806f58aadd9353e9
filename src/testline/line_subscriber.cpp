#include "testline/line_subscriber.h"

#include <unistd.h>

#include <atomic>

#include "testline/testline_messages.h"

namespace rolta {

LineSubscriber::LineSubscriber(const TestLineSettings& settings)
    : settings_(settings), prefix_(settings.topicPrefix), shared_(std::make_shared<Shared>(settings.topicPrefix)) {
  std::weak_ptr<Shared> weak = shared_;
  MqttCallbacks callbacks;
  callbacks.connected = [this, weak] {
    if (auto shared = weak.lock()) {
      std::lock_guard lock(shared->mutex);
      shared->connected = true;
    }
    // Only what a bench publishes; nothing here could ever be sent on.
    for (const char* leaf : {"state", "live", "event"}) client_->Subscribe(prefix_ + "/+/" + leaf, 1);
  };
  callbacks.disconnected = [weak] {
    if (auto shared = weak.lock()) {
      std::lock_guard lock(shared->mutex);
      shared->connected = false;
    }
  };
  callbacks.message = [weak](std::string_view topic, std::string_view payload) {
    if (auto shared = weak.lock()) {
      std::lock_guard lock(shared->mutex);
      shared->table.Apply(topic, payload, WallClockMs());
    }
  };
  static std::atomic<int> made{0};
  const std::string id = "rolta-line-" + std::to_string(::getpid()) + "-" + std::to_string(++made);
  client_ = std::make_unique<MqttClient>(settings, id, std::move(callbacks));
}

LineSubscriber::~LineSubscriber() { client_->Stop(); }

bool LineSubscriber::Start(std::string* error) {
  if (std::string unusable = UnusableSettings(settings_); !unusable.empty()) {
    if (error) *error = std::move(unusable);
    return false;
  }
  if (client_->Start()) return true;
  if (error) *error = client_->Error();
  return false;
}

bool LineSubscriber::Connected() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->connected;
}

std::vector<BenchRow> LineSubscriber::Rows() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->table.Rows();
}

DelayFigures LineSubscriber::Delays() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->table.Delays();
}

}  // namespace rolta
