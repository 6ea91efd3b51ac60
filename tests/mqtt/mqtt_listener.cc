#include "tests/mqtt/mqtt_listener.h"

#include <mosquitto.h>

#include <stdexcept>

namespace velmocair::testing {
namespace {

constexpr int kKeepaliveSeconds = 30;
constexpr int kQos = 1;

}  // namespace

MqttListener::MqttListener(int port, const std::string& filter, const std::string& client_id)
    : filter_(filter) {
  mosquitto_lib_init();
  client_ = mosquitto_new(client_id.empty() ? nullptr : client_id.c_str(), client_id.empty(), this);
  mosquitto_message_callback_set(client_, on_message);
  mosquitto_connect_callback_set(client_, on_connect);
  mosquitto_subscribe_callback_set(client_, on_subscribe);
  if (mosquitto_connect(client_, "127.0.0.1", port, kKeepaliveSeconds) != MOSQ_ERR_SUCCESS ||
      mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
    mosquitto_destroy(client_);
    throw std::runtime_error("the listener cannot connect to the broker");
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, kBrokerWait, [this] { return subscribed_; })) {
    throw std::runtime_error("the listener was not subscribed in time");
  }
}

MqttListener::~MqttListener() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
}

void MqttListener::on_connect(mosquitto* client, void* self, int code) {
  auto& listener = *static_cast<MqttListener*>(self);
  if (code == 0) {
    mosquitto_subscribe(client, nullptr, listener.filter_.c_str(), kQos);
  }
}

void MqttListener::on_subscribe(mosquitto*, void* self, int, int, const int*) {
  auto& listener = *static_cast<MqttListener*>(self);
  {
    const std::lock_guard<std::mutex> lock(listener.mutex_);
    listener.subscribed_ = true;
  }
  listener.changed_.notify_all();
}

void MqttListener::on_message(mosquitto*, void* self, const mosquitto_message* message) {
  auto& listener = *static_cast<MqttListener*>(self);
  {
    const std::lock_guard<std::mutex> lock(listener.mutex_);
    listener.messages_.push_back({message->topic,
                                  std::string(static_cast<const char*>(message->payload),
                                              static_cast<std::size_t>(message->payloadlen)),
                                  message->retain});
  }
  listener.changed_.notify_all();
}

void MqttListener::publish(const std::string& topic, const std::string& payload, bool retain) {
  mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                    payload.data(), kQos, retain);
}

std::vector<MqttListener::Message> MqttListener::messages() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::map<std::string, std::string> MqttListener::latest() const {
  std::map<std::string, std::string> latest;
  for (const Message& message : messages()) {
    latest[message.topic] = message.payload;
  }
  return latest;
}

std::vector<std::string> MqttListener::payloads(const std::string& topic) const {
  std::vector<std::string> payloads;
  for (const Message& message : messages()) {
    if (message.topic == topic) {
      payloads.push_back(message.payload);
    }
  }
  return payloads;
}

std::size_t MqttListener::count() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}

bool MqttListener::wait_until(const std::function<bool(const std::vector<Message>&)>& done,
                              std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return done(messages_); });
}

bool MqttListener::wait_for(const std::string& topic, const std::string& payload,
                            std::chrono::milliseconds limit, std::size_t from) const {
  return wait_until(
      [&](const std::vector<Message>& messages) {
        for (std::size_t i = from; i < messages.size(); ++i) {
          if (messages[i].topic == topic && (payload.empty() || messages[i].payload == payload)) {
            return true;
          }
        }
        return false;
      },
      limit);
}

}  // namespace velmocair::testing
