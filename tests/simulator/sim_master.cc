#include "tests/simulator/sim_master.h"

#include <cerrno>
#include <stdexcept>

#include "simulator/address_map.h"

namespace velmocair::sim::testing {
namespace {

constexpr int kBaud = 9600;
constexpr int kMicrosecondsPerSecond = 1'000'000;

Outcome outcome(int rc) { return {rc, rc < 0 ? errno : 0}; }

}  // namespace

ServerOptions options_on(Transport transport) {
  ServerOptions options;
  if (transport == Transport::tcp) {
    options.tcp_port = 0;
  } else {
    options.rtu_pty = true;
  }
  return options;
}

std::string transport_name(Transport transport) {
  return transport == Transport::tcp ? "tcp" : "rtu";
}

std::vector<std::uint8_t> pdu_of(Transport transport, const std::vector<std::uint8_t>& adu) {
  const std::size_t header = transport == Transport::tcp ? kTcpHeaderLength : 1;
  const std::size_t trailer = transport == Transport::tcp ? 0 : kCrcLength;
  if (adu.size() < header + trailer) {
    return {};
  }
  return std::vector<std::uint8_t>(adu.begin() + static_cast<long>(header),
                                   adu.end() - static_cast<long>(trailer));
}

Master::Master(Transport transport, const Server& server, int unit_id,
               std::chrono::milliseconds timeout)
    : Master(transport,
             transport == Transport::tcp ? std::to_string(server.tcp_port()) : server.pty_path(),
             unit_id, timeout) {}

Master::Master(Transport transport, const std::string& endpoint, int unit_id,
               std::chrono::milliseconds timeout)
    : context_(transport == Transport::tcp ? modbus_new_tcp("127.0.0.1", std::stoi(endpoint))
                                           : modbus_new_rtu(endpoint.c_str(), kBaud, 'N', 8, 1)) {
  if (context_ == nullptr) {
    throw std::runtime_error("cannot create a libmodbus context");
  }
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
  modbus_set_response_timeout(context_, static_cast<std::uint32_t>(micros / kMicrosecondsPerSecond),
                              static_cast<std::uint32_t>(micros % kMicrosecondsPerSecond));
  modbus_set_slave(context_, unit_id);
  if (modbus_connect(context_) != 0) {
    modbus_free(context_);
    throw std::runtime_error(std::string("cannot connect: ") + modbus_strerror(errno));
  }
}

Master::~Master() {
  modbus_close(context_);
  modbus_free(context_);
}

Outcome Master::read_coils(int first, int count, std::vector<std::uint8_t>* values) {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count));
  const Outcome result = outcome(modbus_read_bits(context_, first, count, buffer.data()));
  if (values != nullptr) {
    *values = result.rc == count ? buffer : std::vector<std::uint8_t>{};
  }
  return result;
}

Outcome Master::read_registers(int first, int count, std::vector<std::uint16_t>* values) {
  std::vector<std::uint16_t> buffer(static_cast<std::size_t>(count));
  const Outcome result = outcome(modbus_read_registers(context_, first, count, buffer.data()));
  if (values != nullptr) {
    *values = result.rc == count ? buffer : std::vector<std::uint16_t>{};
  }
  return result;
}

Outcome Master::write_register(int address, int value) {
  return outcome(modbus_write_register(context_, address, static_cast<std::uint16_t>(value)));
}

Outcome Master::raw(const std::vector<std::uint8_t>& pdu, std::vector<std::uint8_t>* reply) {
  std::vector<std::uint8_t> request{static_cast<std::uint8_t>(modbus_get_slave(context_))};
  request.insert(request.end(), pdu.begin(), pdu.end());
  const int sent =
      modbus_send_raw_request(context_, request.data(), static_cast<int>(request.size()));
  if (sent < 0) {
    return outcome(sent);
  }
  std::uint8_t buffer[MODBUS_MAX_ADU_LENGTH];
  const Outcome result = outcome(modbus_receive_confirmation(context_, buffer));
  reply->assign(buffer, buffer + (result.rc > 0 ? result.rc : 0));
  return result;
}

Master::Cycle Master::poll_cycle() {
  Cycle cycle;
  for (const PollRead& read : kPollReads) {
    std::vector<std::uint8_t> coils;
    std::vector<std::uint16_t> words;
    const Outcome result = read.area == Area::coils
                               ? read_coils(read.first, read.count, &coils)
                               : read_registers(read.first, read.count, &words);
    if (result.rc != read.count) {
      cycle.failure = result;
      return cycle;
    }
    if (read.area == Area::registers) {
      cycle.first_words.push_back(words[0]);
    } else if (&read == &kCycleStart) {
      cycle.coils_8001 = coils;
    }
    ++cycle.completed;
  }
  return cycle;
}

}  // namespace velmocair::sim::testing
