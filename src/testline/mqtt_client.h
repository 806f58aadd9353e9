// One connection to the broker through libmosquitto, with the test line's
// settings (TLS, user name and password), on libmosquitto's own network
// thread: it connects, reconnects after a loss and calls back from there.
// Publishing is safe from any thread. libmosquitto is loaded by the first
// client made; when it cannot be, Start() fails with the reason.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "testline/testline_settings.h"

struct mosquitto;
struct mosquitto_message;

namespace rolta {

struct MosquittoFunctions;

struct MqttWill {
  std::string topic;
  std::string payload;
};

struct MqttCallbacks {
  std::function<void()> connected;     // also after each reconnection
  std::function<void()> disconnected;  // the connection was lost or refused
  std::function<void(int mid)> acknowledged;
  std::function<void(std::string_view topic, std::string_view payload)> message;
};

// A clean session forgets the client when it goes; a kept one has the
// broker queue its subscriptions' messages while it is away.
enum class MqttSession { Clean, Kept };

class MqttClient {
 public:
  MqttClient(const TestLineSettings& settings, std::string clientId, MqttCallbacks callbacks,
             std::optional<MqttWill> will = std::nullopt, MqttSession session = MqttSession::Clean);
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Starts connecting on a thread of its own, then the network thread;
  // false with Error() when the settings cannot be used (a CA file that
  // cannot be read, ...). An absent broker is not an error: the first
  // connection is tried again every second, a lost one by libmosquitto.
  bool Start();
  const std::string& Error() const { return error_; }

  // The message id, or nullopt when libmosquitto refused it at once.
  std::optional<int> Publish(const std::string& topic, std::string_view payload, int qos, bool retain);
  bool Subscribe(const std::string& pattern, int qos);
  // Sends the disconnect (no last will) and ends the network thread.
  void Stop();

 private:
  void Connect();
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

  TestLineSettings settings_;
  MqttCallbacks callbacks_;
  const MosquittoFunctions* lib_ = nullptr;  // set with mosq_
  mosquitto* mosq_ = nullptr;
  std::string error_;
  bool started_ = false;
  bool looping_ = false;  // libmosquitto's network thread runs; under stopMutex_
  std::mutex stopMutex_;
  std::condition_variable stopWake_;
  bool stopping_ = false;
  bool everConnected_ = false;
  std::thread connector_;
};

}  // namespace rolta
