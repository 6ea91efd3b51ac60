#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace velmocair::mqtt {

// A broker setting that cannot be used: one line naming what is wrong.
class BrokerSettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where and how the bridge reaches its broker, from a URL:
//   mqtt[s]://[USER@]HOST[:PORT][/BASE/TOPIC][?KEY=VALUE&...]
// KEY: discovery_prefix, client_id, keepalive (seconds), ca, cert, key
// (files for TLS), password_file, password_env. A password never stands in
// the URL, which a process list shows: it is read from a file or from an
// environment variable.
struct BrokerSettings {
  bool tls = false;
  std::string host;
  int port = 0;
  std::string base_topic;
  std::string discovery_prefix;
  std::string client_id;  // empty: velmocair-HOSTNAME-PID
  int keepalive_seconds = 0;
  std::string ca_file;  // mqtts:// without one: the system's certificates
  std::string cert_file;
  std::string key_file;
  std::string user;
  std::string password_file;
  std::string password_env;

  // The URL without user name or secrets, for messages: "mqtts://broker:8883".
  std::string where() const;
};

inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttsPort = 8883;
inline constexpr char kDefaultBaseTopic[] = "velmocair";
inline constexpr char kDefaultDiscoveryPrefix[] = "homeassistant";
inline constexpr int kDefaultKeepaliveSeconds = 30;
// libmosquitto refuses less than 5 s; more than an hour lets a dead broker
// go unnoticed for too long.
inline constexpr int kMinKeepaliveSeconds = 5;
inline constexpr int kMaxKeepaliveSeconds = 3600;

// Parses the URL; throws BrokerSettingsError "WHAT: ..." for anything it
// cannot use.
BrokerSettings parse_broker_url(const std::string& url, const std::string& what);

// The password of the settings, read now: the first line of password_file,
// or the variable password_env of `environment`; empty without either.
// Throws BrokerSettingsError for a file that cannot be read, an unset
// variable, or a password without a user name.
std::string read_password(const BrokerSettings& settings,
                          const std::function<const char*(const char*)>& environment,
                          const std::string& what);

// True for a topic name of one or more levels without wildcards, empty
// levels or a leading or trailing '/'.
bool is_plain_topic(const std::string& topic);

}  // namespace velmocair::mqtt
