#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace velmocair::testing {

// A client of the test broker that subscribes to everything and keeps what
// it receives: what a Home Assistant instance, or any other subscriber,
// would see.
class MqttListener {
 public:
  struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
  };

  // Connects to 127.0.0.1:`port` and subscribes to `filter`. With a client
  // id its session outlasts its connections: the broker keeps what it
  // missed while away, and it reconnects by itself.
  explicit MqttListener(int port, const std::string& filter = "#",
                        const std::string& client_id = "");
  ~MqttListener();
  MqttListener(const MqttListener&) = delete;
  MqttListener& operator=(const MqttListener&) = delete;

  void publish(const std::string& topic, const std::string& payload, bool retain = false);

  std::vector<Message> messages() const;
  // The last payload received on each topic.
  std::map<std::string, std::string> latest() const;
  // Messages received on `topic`, in order.
  std::vector<std::string> payloads(const std::string& topic) const;
  std::size_t count() const;

  // Waits until `done` holds for the messages received; false when `limit`
  // passes first.
  bool wait_until(const std::function<bool(const std::vector<Message>&)>& done,
                  std::chrono::milliseconds limit) const;
  // Waits for a message on `topic` with `payload` (any payload when empty)
  // among those received from message `from` on.
  bool wait_for(const std::string& topic, const std::string& payload,
                std::chrono::milliseconds limit, std::size_t from = 0) const;

 private:
  static void on_message(mosquitto* client, void* self, const mosquitto_message* message);
  static void on_connect(mosquitto* client, void* self, int code);
  static void on_subscribe(mosquitto* client, void* self, int mid, int count, const int* granted);

  mosquitto* client_ = nullptr;
  std::string filter_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Message> messages_;
  bool subscribed_ = false;
};

// Generous bounds for a broker on loopback, under emulation too: liveness
// bounds, never measured.
inline constexpr std::chrono::seconds kBrokerWait{30};

}  // namespace velmocair::testing
