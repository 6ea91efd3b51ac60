#include "cli/mqtt/broker_settings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace velmocair::mqtt {
namespace {

constexpr char kPlainScheme[] = "mqtt://";
constexpr char kTlsScheme[] = "mqtts://";
constexpr std::size_t kMaxClientId = 128;
constexpr int kHexBase = 16;

struct QueryKey {
  const char* name;
  std::string BrokerSettings::*field;
  bool tls_only;
};

// Keys of the URL's query that are texts; keepalive is a number of its own.
// clang-format off
// key                  field                              TLS only
constexpr QueryKey kQueryKeys[] = {
    {"discovery_prefix", &BrokerSettings::discovery_prefix, false},
    {"client_id",        &BrokerSettings::client_id,        false},
    {"ca",               &BrokerSettings::ca_file,          true},
    {"cert",             &BrokerSettings::cert_file,        true},
    {"key",              &BrokerSettings::key_file,         true},
    {"password_file",    &BrokerSettings::password_file,    false},
    {"password_env",     &BrokerSettings::password_env,     false},
};
// clang-format on
constexpr char kKeepaliveKey[] = "keepalive";

[[noreturn]] void fail(const std::string& what, const std::string& why) {
  throw BrokerSettingsError(what + ": " + why);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// %XX escapes decoded.
std::string decoded(const std::string& text, const std::string& what) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? hex_digit(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      fail(what, "\"%\" must be followed by two hexadecimal digits");
    }
    out += static_cast<char>(high * kHexBase + low);
    i += 2;
  }
  return out;
}

int whole_number(const std::string& text, int low, int high, const std::string& what,
                 const std::string& name) {
  const bool digits =
      !text.empty() && text.size() <= 6 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  const int value = digits ? std::stoi(text) : -1;
  if (value < low || value > high) {
    fail(what, name + " must be a whole number " + std::to_string(low) + ".." +
                   std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

void parse_query(const std::string& query, BrokerSettings& settings, const std::string& what) {
  std::size_t start = 0;
  while (start <= query.size()) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string pair = query.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) {
      continue;
    }
    const std::size_t equals = pair.find('=');
    const std::string key = pair.substr(0, equals);
    const std::string value =
        equals == std::string::npos ? "" : decoded(pair.substr(equals + 1), what);
    if (value.empty()) {
      fail(what, "\"" + key + "\" needs a value (" + key + "=...)");
    }
    if (key == kKeepaliveKey) {
      settings.keepalive_seconds =
          whole_number(value, kMinKeepaliveSeconds, kMaxKeepaliveSeconds, what, "keepalive");
      continue;
    }
    const auto known = std::find_if(std::begin(kQueryKeys), std::end(kQueryKeys),
                                    [&key](const QueryKey& row) { return key == row.name; });
    if (known == std::end(kQueryKeys)) {
      fail(what, "unknown key \"" + key +
                     "\" (allowed: discovery_prefix, client_id, keepalive, ca, cert, key, "
                     "password_file, password_env)");
    }
    if (known->tls_only && !settings.tls) {
      fail(what, "\"" + key + "\" is a TLS setting: use mqtts://");
    }
    settings.*(known->field) = value;
  }
}

void split_host_port(const std::string& authority, BrokerSettings& settings,
                     const std::string& what) {
  std::string port_text;
  if (!authority.empty() && authority.front() == '[') {  // [IPv6]:port
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) {
      fail(what, "an IPv6 address must end with ']'");
    }
    settings.host = authority.substr(1, close - 1);
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') {
      fail(what, "expected \":PORT\" after the IPv6 address");
    }
    port_text = rest.empty() ? "" : rest.substr(1);
    if (rest == ":") {
      fail(what, "the port after ':' is missing");
    }
  } else {
    const std::size_t colon = authority.rfind(':');
    settings.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
      port_text = authority.substr(colon + 1);
      if (port_text.empty()) {
        fail(what, "the port after ':' is missing");
      }
    }
  }
  if (settings.host.empty()) {
    fail(what, "the broker's host name is missing (mqtt://HOST[:PORT])");
  }
  if (!port_text.empty()) {
    settings.port = whole_number(port_text, 1, 65535, what, "the port");
  }
}

}  // namespace

bool is_plain_topic(const std::string& topic) {
  if (topic.empty() || topic.front() == '/' || topic.back() == '/' ||
      topic.find("//") != std::string::npos) {
    return false;
  }
  return std::none_of(topic.begin(), topic.end(),
                      [](char c) { return c == '+' || c == '#' || c == '\0'; });
}

std::string BrokerSettings::where() const {
  const bool bracket = host.find(':') != std::string::npos;
  return std::string(tls ? kTlsScheme : kPlainScheme) + (bracket ? "[" + host + "]" : host) + ":" +
         std::to_string(port);
}

BrokerSettings parse_broker_url(const std::string& url, const std::string& what) {
  BrokerSettings settings;
  std::string rest;
  if (url.rfind(kTlsScheme, 0) == 0) {
    settings.tls = true;
    rest = url.substr(std::strlen(kTlsScheme));
  } else if (url.rfind(kPlainScheme, 0) == 0) {
    rest = url.substr(std::strlen(kPlainScheme));
  } else {
    fail(what, "\"" + url + "\" is no broker URL: mqtt://HOST[:PORT][/BASE] or mqtts://...");
  }
  settings.port = settings.tls ? kMqttsPort : kMqttPort;
  settings.base_topic = kDefaultBaseTopic;
  settings.discovery_prefix = kDefaultDiscoveryPrefix;
  settings.keepalive_seconds = kDefaultKeepaliveSeconds;

  const std::size_t query_at = rest.find('?');
  const std::string query = query_at == std::string::npos ? "" : rest.substr(query_at + 1);
  rest = rest.substr(0, query_at);
  const std::size_t path_at = rest.find('/');
  std::string authority = rest.substr(0, path_at);
  const std::string path = path_at == std::string::npos ? "" : rest.substr(path_at + 1);

  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    const std::string user_info = authority.substr(0, at);
    if (user_info.find(':') != std::string::npos) {
      fail(what,
           "a password in the URL would show in the process list: give it with password_file= "
           "or password_env=");
    }
    settings.user = decoded(user_info, what);
    if (settings.user.empty()) {
      fail(what, "the user name before '@' is empty");
    }
    authority = authority.substr(at + 1);
  }
  split_host_port(authority, settings, what);
  if (!path.empty()) {
    settings.base_topic = decoded(path, what);
  }
  parse_query(query, settings, what);

  if (!is_plain_topic(settings.base_topic)) {
    fail(what, "the base topic \"" + settings.base_topic +
                   "\" must be levels separated by '/', without '+', '#' or empty levels");
  }
  if (!is_plain_topic(settings.discovery_prefix)) {
    fail(what, "discovery_prefix \"" + settings.discovery_prefix +
                   "\" must be levels separated by '/', without '+', '#' or empty levels");
  }
  if (settings.client_id.size() > kMaxClientId) {
    fail(what, "client_id is longer than " + std::to_string(kMaxClientId) + " bytes");
  }
  if (settings.cert_file.empty() != settings.key_file.empty()) {
    fail(what, "a client certificate needs both cert= and key=");
  }
  if (!settings.password_file.empty() && !settings.password_env.empty()) {
    fail(what, "give the password with password_file= or password_env=, not both");
  }
  if ((!settings.password_file.empty() || !settings.password_env.empty()) &&
      settings.user.empty()) {
    fail(what, "a password needs a user name: mqtt://USER@HOST");
  }
  return settings;
}

std::string read_password(const BrokerSettings& settings,
                          const std::function<const char*(const char*)>& environment,
                          const std::string& what) {
  if (!settings.password_env.empty()) {
    const char* value = environment(settings.password_env.c_str());
    if (value == nullptr) {
      fail(what,
           "the environment variable " + settings.password_env + " (password_env) is not set");
    }
    return value;
  }
  if (settings.password_file.empty()) {
    return "";
  }
  std::ifstream file(settings.password_file);
  std::string password;
  if (!file || !std::getline(file, password)) {
    fail(what, "cannot read the password file " + settings.password_file + ": " +
                   (errno != 0 ? std::strerror(errno) : "it is empty"));
  }
  if (!password.empty() && password.back() == '\r') {
    password.pop_back();
  }
  return password;
}

}  // namespace velmocair::mqtt
