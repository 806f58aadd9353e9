#include "testline/mqtt_client.h"

#include <mosquitto.h>

#include <chrono>
#include <mutex>

namespace rolta {
namespace {

constexpr int kKeepAliveSeconds = 10;
constexpr auto kFirstConnectRetry = std::chrono::seconds(1);
constexpr auto kFirstAnswerWait = std::chrono::seconds(3);

void InitLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

MqttClient::MqttClient(const TestLineSettings& settings, std::string clientId, MqttCallbacks callbacks,
                       std::optional<MqttWill> will, MqttSession session)
    : settings_(settings), callbacks_(std::move(callbacks)) {
  InitLibraryOnce();
  mosq_ = mosquitto_new(clientId.c_str(), session == MqttSession::Clean, this);
  if (mosq_ == nullptr) {
    error_ = "the MQTT client could not be made";
    return;
  }
  mosquitto_connect_callback_set(mosq_, &MqttClient::OnConnect);
  mosquitto_disconnect_callback_set(mosq_, &MqttClient::OnDisconnect);
  mosquitto_publish_callback_set(mosq_, &MqttClient::OnPublish);
  mosquitto_message_callback_set(mosq_, &MqttClient::OnMessage);
  mosquitto_reconnect_delay_set(mosq_, 1, 4, true);
  if (will) {
    mosquitto_will_set(mosq_, will->topic.c_str(), static_cast<int>(will->payload.size()), will->payload.data(), 1,
                       true);
  }
}

MqttClient::~MqttClient() {
  Stop();
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

bool MqttClient::Start() {
  if (mosq_ == nullptr) return false;
  if (!settings_.username.empty() &&
      mosquitto_username_pw_set(mosq_, settings_.username.c_str(), OrNull(settings_.password)) != MOSQ_ERR_SUCCESS) {
    error_ = "the user name could not be set";
    return false;
  }
  if (!settings_.caFile.empty()) {
    const int rc = mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr, OrNull(settings_.certFile),
                                     OrNull(settings_.keyFile), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error_ = std::string("TLS: ") + mosquitto_strerror(rc);
      return false;
    }
  }
  started_ = true;
  connector_ = std::thread([this] { Connect(); });
  return true;
}

void MqttClient::Connect() {
  // Until the first connection, libmosquitto's network thread may give up
  // for good (no broker yet, and with TLS that is fatal to it): each attempt
  // gets a network thread of its own, ended when no answer came.
  std::unique_lock lock(stopMutex_);
  while (!stopping_) {
    lock.unlock();
    const bool attempt =
        mosquitto_connect_async(mosq_, settings_.host.c_str(), settings_.port, kKeepAliveSeconds) == MOSQ_ERR_SUCCESS &&
        mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
    lock.lock();
    looping_ = attempt;
    if (attempt && stopWake_.wait_for(lock, kFirstAnswerWait, [this] { return stopping_ || everConnected_; })) return;
    if (attempt) {
      lock.unlock();
      mosquitto_disconnect(mosq_);
      mosquitto_loop_stop(mosq_, true);
      lock.lock();
      looping_ = false;
    }
    stopWake_.wait_for(lock, kFirstConnectRetry, [this] { return stopping_; });
  }
}

std::optional<int> MqttClient::Publish(const std::string& topic, std::string_view payload, int qos, bool retain) {
  int mid = 0;
  const int rc =
      mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) return std::nullopt;
  return mid;
}

bool MqttClient::Subscribe(const std::string& pattern, int qos) {
  return mosquitto_subscribe(mosq_, nullptr, pattern.c_str(), qos) == MOSQ_ERR_SUCCESS;
}

void MqttClient::Stop() {
  if (!started_) return;
  started_ = false;
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopWake_.notify_all();
  connector_.join();
  if (looping_) {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, true);
    looping_ = false;
  }
}

void MqttClient::OnConnect(mosquitto*, void* self, int rc) {
  auto& client = *static_cast<MqttClient*>(self);
  if (rc == 0) {
    {
      std::lock_guard lock(client.stopMutex_);
      client.everConnected_ = true;
    }
    client.stopWake_.notify_all();
    if (client.callbacks_.connected) client.callbacks_.connected();
  } else if (client.callbacks_.disconnected) {
    client.callbacks_.disconnected();
  }
}

void MqttClient::OnDisconnect(mosquitto*, void* self, int) {
  auto& client = *static_cast<MqttClient*>(self);
  if (client.callbacks_.disconnected) client.callbacks_.disconnected();
}

void MqttClient::OnPublish(mosquitto*, void* self, int mid) {
  auto& client = *static_cast<MqttClient*>(self);
  if (client.callbacks_.acknowledged) client.callbacks_.acknowledged(mid);
}

void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto& client = *static_cast<MqttClient*>(self);
  if (!client.callbacks_.message || message->topic == nullptr) return;
  const std::string_view payload(static_cast<const char*>(message->payload),
                                 message->payload != nullptr ? static_cast<std::size_t>(message->payloadlen) : 0);
  client.callbacks_.message(message->topic, payload);
}

}  // namespace rolta
