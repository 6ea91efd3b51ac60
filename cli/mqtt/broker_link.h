#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "cli/mqtt/broker_settings.h"
#include "host/services/connect_backoff.h"

struct mosquitto;
struct mosquitto_message;

namespace velmocair::mqtt {

enum class Retain : bool { no = false, yes = true };

// What the link reports, each on the link's network thread.
struct LinkHandlers {
  std::function<void()> connected;     // the broker accepted the connection
  std::function<void()> disconnected;  // an accepted connection ended
  std::function<void(const std::string& topic, const std::string& payload)> message;
  std::function<void(const std::string& line)> notice;  // one line for people
};

// The last will: published by the broker when the connection ends without
// a clean disconnect.
struct Will {
  std::string topic;
  std::string payload;
};

// One connection to the broker on libmosquitto, kept up by a network
// thread of its own: it connects, reconnects after any failure (refusal,
// TLS, name lookup, a broker that stops answering within the keep-alive)
// with a back-off from 0.5 s doubling to 30 s, and says once per series of
// failures why. Every message goes at QoS 1 (a broker may drop QoS 0
// messages for a subscriber that is behind, and Home Assistant would keep
// a stale value), at most `window` of them unconfirmed at a time, so that
// the library never holds more than that.
class BrokerLink {
 public:
  BrokerLink(const BrokerSettings& settings, const std::string& password, const Will& will,
             LinkHandlers handlers, std::size_t window);
  ~BrokerLink();
  BrokerLink(const BrokerLink&) = delete;
  BrokerLink& operator=(const BrokerLink&) = delete;

  void start();
  bool connected() const;
  // Waits while the window is full; false when the link is not connected,
  // or stops being so meanwhile.
  bool publish(const std::string& topic, std::string_view payload, Retain retain);
  // From now on publish() returns false at once: whoever waits for room
  // goes on.
  void refuse_publishing();
  // Call from the connected handler: subscriptions end with the connection.
  bool subscribe(const std::string& filter);
  // Publishes `payload` on `topic` (retained) when connected, waits
  // for its acknowledgement at most `limit`, disconnects cleanly (no will)
  // and ends the network thread.
  void close(const std::string& topic, const std::string& payload, std::chrono::milliseconds limit);

  struct Counts {
    std::uint64_t attempts = 0;     // connection attempts
    std::uint64_t connections = 0;  // accepted by the broker
    std::uint64_t published = 0;    // messages handed to the library
    std::uint64_t unconfirmed = 0;  // of them, not yet confirmed
  };
  Counts counts() const;

 private:
  using Clock = std::chrono::steady_clock;

  void run();
  int attempt(bool first);
  void report_failure(bool was_connected, const std::string& reason,
                      sitehost::ConnectBackoff& backoff);
  std::string reason_of(int code);
  bool stopping() const;

  static void on_connect(mosquitto* client, void* self, int code);
  static void on_publish(mosquitto* client, void* self, int mid);
  static void on_message(mosquitto* client, void* self, const mosquitto_message* message);
  static void on_log(mosquitto* client, void* self, int level, const char* text);

  BrokerSettings settings_;
  LinkHandlers handlers_;
  std::size_t window_;
  mosquitto* client_ = nullptr;
  std::thread network_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  bool stopping_ = false;
  bool refusing_ = false;
  std::size_t in_flight_ = 0;
  int final_mid_ = -1;
  bool final_acknowledged_ = false;
  std::string refusal_;     // why the broker refused the last attempt
  std::string last_error_;  // the library's last error line
  Counts counts_;

  // The network thread's own: what was last said about failures.
  std::string reported_reason_;
  bool reported_failure_ = false;
};

}  // namespace velmocair::mqtt
