#include "cli/mqtt/broker_link.h"

#include <mosquitto.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>

#include "host/services/connect_backoff.h"

namespace velmocair::mqtt {
namespace {

// How long one pass of the library's loop may wait for the network.
constexpr int kLoopWaitMs = 100;
// The broker must accept a connection within this many keep-alives.
constexpr int kConnectKeepalives = 2;
constexpr int kMaxHostName = 256;
constexpr std::chrono::seconds kDisconnectLimit{2};
// At least once: the broker keeps what it has not delivered.
constexpr int kQos = 1;

void initialise_library() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string default_client_id() {
  char host[kMaxHostName] = {};
  if (gethostname(host, sizeof host - 1) != 0) {
    host[0] = '\0';
  }
  return std::string("velmocair-") + host + "-" + std::to_string(getpid());
}

void require_readable(const std::string& path, const char* what) {
  if (!path.empty() && !std::ifstream(path)) {
    throw BrokerSettingsError(std::string("cannot read the ") + what + " " + path + ": " +
                              std::strerror(errno));
  }
}

void require_ok(int code, const std::string& what) {
  if (code != MOSQ_ERR_SUCCESS) {
    throw BrokerSettingsError(what + ": " + mosquitto_strerror(code));
  }
}

// The library's text for an error, as part of a line: without its full stop.
std::string error_text(int code) {
  if (code == MOSQ_ERR_EAI) {
    return "the host name does not resolve";
  }
  std::string text = mosquitto_strerror(code);
  if (!text.empty() && text.back() == '.') {
    text.pop_back();
  }
  return text;
}

// "the broker refused the connection: not authorised", from the library's
// "Connection Refused: not authorised.".
std::string refusal_text(int code) {
  std::string text = mosquitto_connack_string(code);
  const std::string::size_type colon = text.find(": ");
  text = colon == std::string::npos ? text : text.substr(colon + 2);
  if (!text.empty() && text.back() == '.') {
    text.pop_back();
  }
  return "the broker refused the connection: " + text;
}

// OpenSSL's reason alone: "certificate verify failed" from
// "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed".
std::string tls_reason(const std::string& line) {
  const std::string::size_type colons = line.rfind("::");
  return colons == std::string::npos ? line : line.substr(colons + 2);
}

std::string seconds_text(std::chrono::milliseconds delay) {
  const auto tenths = delay.count() / 100;
  return std::to_string(tenths / 10) + (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") +
         " s";
}

}  // namespace

BrokerLink::BrokerLink(const BrokerSettings& settings, const std::string& password,
                       const Will& will, LinkHandlers handlers, std::size_t window)
    : settings_(settings), handlers_(std::move(handlers)), window_(window) {
  initialise_library();
  require_readable(settings.ca_file, "CA file");
  require_readable(settings.cert_file, "certificate file");
  require_readable(settings.key_file, "key file");
  const std::string client_id =
      settings.client_id.empty() ? default_client_id() : settings.client_id;
  client_ = mosquitto_new(client_id.c_str(), true, this);
  if (client_ == nullptr) {
    throw BrokerSettingsError("cannot make an MQTT client: " + std::string(std::strerror(errno)));
  }
  try {
    require_ok(mosquitto_threaded_set(client_, true), "threads");
    require_ok(mosquitto_max_inflight_messages_set(client_, static_cast<unsigned>(window)),
               "window");
    require_ok(
        mosquitto_will_set(client_, will.topic.c_str(), static_cast<int>(will.payload.size()),
                           will.payload.data(), kQos, true),
        "last will");
    if (!settings.user.empty()) {
      require_ok(mosquitto_username_pw_set(client_, settings.user.c_str(),
                                           password.empty() ? nullptr : password.c_str()),
                 "user name");
    }
    if (settings.tls) {
      if (settings.ca_file.empty()) {
        require_ok(mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1),
                   "the system's CA certificates");
      } else {
        require_ok(mosquitto_tls_set(
                       client_, settings.ca_file.c_str(), nullptr,
                       settings.cert_file.empty() ? nullptr : settings.cert_file.c_str(),
                       settings.key_file.empty() ? nullptr : settings.key_file.c_str(), nullptr),
                   "TLS files");
      }
    }
  } catch (...) {
    mosquitto_destroy(client_);
    throw;
  }
  mosquitto_connect_callback_set(client_, on_connect);
  mosquitto_publish_callback_set(client_, on_publish);
  mosquitto_message_callback_set(client_, on_message);
  mosquitto_log_callback_set(client_, on_log);
}

BrokerLink::~BrokerLink() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (network_.joinable()) {
    network_.join();
  }
  mosquitto_destroy(client_);
}

void BrokerLink::start() {
  network_ = std::thread([this] { run(); });
}

bool BrokerLink::connected() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

bool BrokerLink::stopping() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

BrokerLink::Counts BrokerLink::counts() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  Counts counts = counts_;
  counts.unconfirmed = in_flight_;
  return counts;
}

bool BrokerLink::publish(const std::string& topic, std::string_view payload, Retain retain) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock,
                  [this] { return !connected_ || stopping_ || refusing_ || in_flight_ < window_; });
    if (!connected_ || stopping_ || refusing_) {
      return false;
    }
    ++in_flight_;
  }
  const int code =
      mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), kQos, retain == Retain::yes);
  const std::lock_guard<std::mutex> lock(mutex_);
  if (code != MOSQ_ERR_SUCCESS) {
    in_flight_ -= in_flight_ > 0 ? 1 : 0;
    return false;
  }
  ++counts_.published;
  return true;
}

void BrokerLink::refuse_publishing() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    refusing_ = true;
  }
  changed_.notify_all();
}

bool BrokerLink::subscribe(const std::string& filter) {
  return mosquitto_subscribe(client_, nullptr, filter.c_str(), kQos) == MOSQ_ERR_SUCCESS;
}

void BrokerLink::close(const std::string& topic, const std::string& payload,
                       std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (connected_ && !stopping_) {
    int mid = -1;
    lock.unlock();
    const int code = mosquitto_publish(
        client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), kQos, true);
    lock.lock();
    if (code == MOSQ_ERR_SUCCESS) {
      final_mid_ = mid;
      changed_.wait_for(lock, limit, [this] { return final_acknowledged_ || !connected_; });
    }
  }
  stopping_ = true;
  lock.unlock();
  mosquitto_disconnect(client_);
  changed_.notify_all();
  if (network_.joinable()) {
    network_.join();
  }
}

void BrokerLink::run() {
  sitehost::ConnectBackoff backoff;
  bool open = false;
  bool first = true;
  Clock::time_point deadline;
  const auto connect_limit = std::chrono::seconds(kConnectKeepalives * settings_.keepalive_seconds);
  while (!stopping()) {
    if (!open) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_until(lock, backoff.next_attempt(), [this] { return stopping_; });
        if (stopping_) {
          break;
        }
      }
      const int code = attempt(first);
      first = false;
      open = code == MOSQ_ERR_SUCCESS;
      if (!open) {
        report_failure(false, reason_of(code), backoff);
      }
      deadline = Clock::now() + connect_limit;
      continue;
    }
    const int code = mosquitto_loop(client_, kLoopWaitMs, 1);
    bool was_connected = false;
    bool lost = code != MOSQ_ERR_SUCCESS;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      was_connected = connected_;
      if (!lost && !connected_ && Clock::now() > deadline) {
        lost = true;
        refusal_ = "no answer within " + std::to_string(connect_limit.count()) + " s";
      }
      if (lost) {
        connected_ = false;
      }
    }
    if (!lost) {
      if (was_connected) {
        backoff.succeeded();
      }
      continue;
    }
    open = false;
    changed_.notify_all();
    if (was_connected && handlers_.disconnected) {
      handlers_.disconnected();
    }
    if (!stopping()) {
      report_failure(was_connected, reason_of(code), backoff);
    }
  }
  // A clean end: the DISCONNECT queued by close() goes out.
  const auto end_by = Clock::now() + kDisconnectLimit;
  while (open && Clock::now() < end_by &&
         mosquitto_loop(client_, kLoopWaitMs, 1) == MOSQ_ERR_SUCCESS) {
  }
}

int BrokerLink::attempt(bool first) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.attempts;
    refusal_.clear();
    last_error_.clear();
  }
  errno = 0;
  // Without waiting for the connection: a stop is never held up by a broker
  // that does not answer.
  return first ? mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port,
                                         settings_.keepalive_seconds)
               : mosquitto_reconnect_async(client_);
}

void BrokerLink::report_failure(bool was_connected, const std::string& reason,
                                sitehost::ConnectBackoff& backoff) {
  const auto now = Clock::now();
  const bool series_starts = backoff.failed(now);
  if (!series_starts && reason == reported_reason_) {
    return;
  }
  reported_reason_ = reason;
  reported_failure_ = true;
  if (handlers_.notice) {
    handlers_.notice(
        std::string("mqtt: ") + (was_connected ? "lost the connection to " : "cannot connect to ") +
        settings_.where() + ": " + reason + "; trying again in " +
        seconds_text(
            std::chrono::duration_cast<std::chrono::milliseconds>(backoff.next_attempt() - now)) +
        ", then less often, up to every " + seconds_text(sitehost::ConnectBackoff::kMaxDelay));
  }
}

std::string BrokerLink::reason_of(int code) {
  const int error_number = errno;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!refusal_.empty()) {
    return refusal_;
  }
  if (code == MOSQ_ERR_TLS || (code != MOSQ_ERR_ERRNO && !last_error_.empty())) {
    return "TLS: " + (last_error_.empty() ? error_text(code) : tls_reason(last_error_));
  }
  if (code == MOSQ_ERR_ERRNO && error_number != 0) {
    return std::strerror(error_number);
  }
  return error_text(code);
}

void BrokerLink::on_connect(mosquitto*, void* self, int code) {
  auto& link = *static_cast<BrokerLink*>(self);
  {
    const std::lock_guard<std::mutex> lock(link.mutex_);
    if (code != 0) {
      link.refusal_ = refusal_text(code);
      return;
    }
    link.connected_ = true;
    // The window starts afresh: what the library sends again of the old
    // connection is at most one window more, and nothing it may have let go
    // can hold the window shut.
    link.in_flight_ = 0;
    ++link.counts_.connections;
  }
  if ((link.reported_failure_ || link.counts().connections == 1) && link.handlers_.notice) {
    link.handlers_.notice("mqtt: connected to " + link.settings_.where());
  }
  link.reported_failure_ = false;
  link.reported_reason_.clear();
  link.changed_.notify_all();
  if (link.handlers_.connected) {
    link.handlers_.connected();
  }
}

void BrokerLink::on_publish(mosquitto*, void* self, int mid) {
  auto& link = *static_cast<BrokerLink*>(self);
  {
    const std::lock_guard<std::mutex> lock(link.mutex_);
    link.in_flight_ -= link.in_flight_ > 0 ? 1 : 0;
    if (mid == link.final_mid_) {
      link.final_acknowledged_ = true;
    }
  }
  link.changed_.notify_all();
}

void BrokerLink::on_message(mosquitto*, void* self, const mosquitto_message* message) {
  auto& link = *static_cast<BrokerLink*>(self);
  if (link.handlers_.message && message->topic != nullptr) {
    link.handlers_.message(
        message->topic,
        std::string(
            static_cast<const char*>(message->payload),
            message->payload == nullptr ? 0 : static_cast<std::size_t>(message->payloadlen)));
  }
}

void BrokerLink::on_log(mosquitto*, void* self, int level, const char* text) {
  if (level != MOSQ_LOG_ERR || text == nullptr) {
    return;
  }
  auto& link = *static_cast<BrokerLink*>(self);
  const std::lock_guard<std::mutex> lock(link.mutex_);
  link.last_error_ = text;
}

}  // namespace velmocair::mqtt
