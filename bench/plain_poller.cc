// plain-poller HOST:PORT UNIT_ID CYCLES: the device's 20 poll reads per
// cycle over Modbus/TCP with libmodbus's ordinary read calls, and nothing
// else: no record, no completion, no status. The reference a host's cycle is
// set against. Exit status 0 when every read was answered, 1 otherwise, 2 for
// bad arguments.
#include <modbus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "device/poll_cycle_table.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

bool read_once(modbus_t* context, const velmocair::ReadRequest& read) {
  if (read.kind == velmocair::ReadKind::coils) {
    std::uint8_t bits[MODBUS_MAX_READ_BITS];
    return modbus_read_bits(context, read.first, read.count, bits) == read.count;
  }
  std::uint16_t words[MODBUS_MAX_READ_REGISTERS];
  return modbus_read_registers(context, read.first, read.count, words) == read.count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: plain-poller HOST:PORT UNIT_ID CYCLES\n");
    return kExitUsage;
  }
  const std::string endpoint = argv[1];
  const std::size_t colon = endpoint.rfind(':');
  const int unit_id = std::atoi(argv[2]);
  const long cycles = std::atol(argv[3]);
  if (colon == std::string::npos || unit_id < 1 || cycles < 0) {
    std::fprintf(stderr, "plain-poller: bad arguments\n");
    return kExitUsage;
  }
  const std::string host = endpoint.substr(0, colon);
  const std::string port = endpoint.substr(colon + 1);
  modbus_t* context = modbus_new_tcp_pi(host.c_str(), port.c_str());
  if (context == nullptr || modbus_connect(context) != 0) {
    std::fprintf(stderr, "plain-poller: cannot connect to %s: %s\n", endpoint.c_str(),
                 modbus_strerror(errno));
    return kExitFailed;
  }
  modbus_set_slave(context, unit_id);
  int status = kExitOk;
  for (long cycle = 0; cycle < cycles && status == kExitOk; ++cycle) {
    for (const velmocair::PollStep& step : velmocair::kPollCycle) {
      if (!read_once(context, step.request)) {
        std::fprintf(stderr, "plain-poller: read of %d failed: %s\n", step.request.first,
                     modbus_strerror(errno));
        status = kExitFailed;
        break;
      }
    }
  }
  modbus_close(context);
  modbus_free(context);
  return status;
}
