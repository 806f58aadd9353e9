#include "testline/mqtt_client.h"

#include <dlfcn.h>
#include <mosquitto.h>

#include <chrono>
#include <mutex>

namespace rolta {
namespace {

constexpr int kKeepAliveSeconds = 10;
constexpr auto kFirstConnectRetry = std::chrono::seconds(1);
constexpr auto kFirstAnswerWait = std::chrono::seconds(3);
constexpr const char* kLibraryFile = "libmosquitto.so.1";

}  // namespace

// libmosquitto's functions, looked up when MQTT is first used: the programs
// do not link it, so a console that never sees the test line never loads it
// nor the OpenSSL it brings.
struct MosquittoFunctions {
  decltype(&::mosquitto_lib_init) lib_init = nullptr;
  decltype(&::mosquitto_new) create = nullptr;
  decltype(&::mosquitto_destroy) destroy = nullptr;
  decltype(&::mosquitto_connect_callback_set) connect_callback_set = nullptr;
  decltype(&::mosquitto_disconnect_callback_set) disconnect_callback_set = nullptr;
  decltype(&::mosquitto_publish_callback_set) publish_callback_set = nullptr;
  decltype(&::mosquitto_message_callback_set) message_callback_set = nullptr;
  decltype(&::mosquitto_reconnect_delay_set) reconnect_delay_set = nullptr;
  decltype(&::mosquitto_will_set) will_set = nullptr;
  decltype(&::mosquitto_username_pw_set) username_pw_set = nullptr;
  decltype(&::mosquitto_tls_set) tls_set = nullptr;
  decltype(&::mosquitto_strerror) strerror = nullptr;
  decltype(&::mosquitto_connect_async) connect_async = nullptr;
  decltype(&::mosquitto_loop_start) loop_start = nullptr;
  decltype(&::mosquitto_loop_stop) loop_stop = nullptr;
  decltype(&::mosquitto_disconnect) disconnect = nullptr;
  decltype(&::mosquitto_publish) publish = nullptr;
  decltype(&::mosquitto_subscribe) subscribe = nullptr;
};

namespace {

struct LoadedMosquitto {
  std::optional<MosquittoFunctions> functions;
  std::string error;  // why not, when functions is empty
};

template <typename Function>
bool Find(void* library, const char* name, Function& function, std::string& error) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  if (function == nullptr) error = std::string(kLibraryFile) + " has no " + name;
  return function != nullptr;
}

LoadedMosquitto Load() {
  // Never closed: its network threads may outlive any one client.
  void* library = ::dlopen(kLibraryFile, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = ::dlerror();
    return {std::nullopt, std::string(kLibraryFile) + " could not be loaded" + (why ? std::string(": ") + why : "")};
  }
  MosquittoFunctions m;
  std::string error;
  const bool found =
      Find(library, "mosquitto_lib_init", m.lib_init, error) && Find(library, "mosquitto_new", m.create, error) &&
      Find(library, "mosquitto_destroy", m.destroy, error) &&
      Find(library, "mosquitto_connect_callback_set", m.connect_callback_set, error) &&
      Find(library, "mosquitto_disconnect_callback_set", m.disconnect_callback_set, error) &&
      Find(library, "mosquitto_publish_callback_set", m.publish_callback_set, error) &&
      Find(library, "mosquitto_message_callback_set", m.message_callback_set, error) &&
      Find(library, "mosquitto_reconnect_delay_set", m.reconnect_delay_set, error) &&
      Find(library, "mosquitto_will_set", m.will_set, error) &&
      Find(library, "mosquitto_username_pw_set", m.username_pw_set, error) &&
      Find(library, "mosquitto_tls_set", m.tls_set, error) && Find(library, "mosquitto_strerror", m.strerror, error) &&
      Find(library, "mosquitto_connect_async", m.connect_async, error) &&
      Find(library, "mosquitto_loop_start", m.loop_start, error) &&
      Find(library, "mosquitto_loop_stop", m.loop_stop, error) &&
      Find(library, "mosquitto_disconnect", m.disconnect, error) &&
      Find(library, "mosquitto_publish", m.publish, error) && Find(library, "mosquitto_subscribe", m.subscribe, error);
  if (!found) return {std::nullopt, error};
  m.lib_init();
  return {m, {}};
}

// Loaded once, by whichever thread first needs it.
const LoadedMosquitto& Library() {
  static const LoadedMosquitto loaded = Load();
  return loaded;
}

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

MqttClient::MqttClient(const TestLineSettings& settings, std::string clientId, MqttCallbacks callbacks,
                       std::optional<MqttWill> will, MqttSession session)
    : settings_(settings), callbacks_(std::move(callbacks)) {
  const LoadedMosquitto& library = Library();
  if (!library.functions) {
    error_ = library.error;
    return;
  }
  lib_ = &*library.functions;
  mosq_ = lib_->create(clientId.c_str(), session == MqttSession::Clean, this);
  if (mosq_ == nullptr) {
    error_ = "the MQTT client could not be made";
    return;
  }
  lib_->connect_callback_set(mosq_, &MqttClient::OnConnect);
  lib_->disconnect_callback_set(mosq_, &MqttClient::OnDisconnect);
  lib_->publish_callback_set(mosq_, &MqttClient::OnPublish);
  lib_->message_callback_set(mosq_, &MqttClient::OnMessage);
  lib_->reconnect_delay_set(mosq_, 1, 4, true);
  if (will) {
    lib_->will_set(mosq_, will->topic.c_str(), static_cast<int>(will->payload.size()), will->payload.data(), 1, true);
  }
}

MqttClient::~MqttClient() {
  Stop();
  if (mosq_ != nullptr) lib_->destroy(mosq_);
}

bool MqttClient::Start() {
  if (mosq_ == nullptr) return false;
  if (!settings_.username.empty() &&
      lib_->username_pw_set(mosq_, settings_.username.c_str(), OrNull(settings_.password)) != MOSQ_ERR_SUCCESS) {
    error_ = "the user name could not be set";
    return false;
  }
  if (!settings_.caFile.empty()) {
    const int rc = lib_->tls_set(mosq_, settings_.caFile.c_str(), nullptr, OrNull(settings_.certFile),
                                 OrNull(settings_.keyFile), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error_ = std::string("TLS: ") + lib_->strerror(rc);
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
        lib_->connect_async(mosq_, settings_.host.c_str(), settings_.port, kKeepAliveSeconds) == MOSQ_ERR_SUCCESS &&
        lib_->loop_start(mosq_) == MOSQ_ERR_SUCCESS;
    lock.lock();
    looping_ = attempt;
    if (attempt && stopWake_.wait_for(lock, kFirstAnswerWait, [this] { return stopping_ || everConnected_; })) return;
    if (attempt) {
      lock.unlock();
      lib_->disconnect(mosq_);
      lib_->loop_stop(mosq_, true);
      lock.lock();
      looping_ = false;
    }
    stopWake_.wait_for(lock, kFirstConnectRetry, [this] { return stopping_; });
  }
}

std::optional<int> MqttClient::Publish(const std::string& topic, std::string_view payload, int qos, bool retain) {
  if (mosq_ == nullptr) return std::nullopt;
  int mid = 0;
  const int rc =
      lib_->publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) return std::nullopt;
  return mid;
}

bool MqttClient::Subscribe(const std::string& pattern, int qos) {
  if (mosq_ == nullptr) return false;
  return lib_->subscribe(mosq_, nullptr, pattern.c_str(), qos) == MOSQ_ERR_SUCCESS;
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
    lib_->disconnect(mosq_);
    lib_->loop_stop(mosq_, true);
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
