#pragma once

#include <gtest/gtest.h>
#include <modbus.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "simulator/frames.h"
#include "simulator/server.h"

namespace velmocair::sim::testing {

// Options for a server on one transport: TCP on a free loopback port, or RTU
// on a new pseudo-terminal.
ServerOptions options_on(Transport transport);
std::string transport_name(Transport transport);
struct TransportName {
  std::string operator()(const ::testing::TestParamInfo<Transport>& info) const {
    return transport_name(info.param);
  }
};

// The PDU inside a reply ADU of the transport.
std::vector<std::uint8_t> pdu_of(Transport transport, const std::vector<std::uint8_t>& adu);

// What one exchange gave: libmodbus's result and errno right after it.
struct Outcome {
  int rc;
  int error;
};

// A plain libmodbus master for one simulator endpoint.
class Master {
 public:
  static constexpr std::chrono::milliseconds kTimeout{1000};

  Master(Transport transport, const Server& server, int unit_id,
         std::chrono::milliseconds timeout = kTimeout);
  // `endpoint`: a TCP port on loopback or the device path of a pty.
  Master(Transport transport, const std::string& endpoint, int unit_id,
         std::chrono::milliseconds timeout = kTimeout);
  ~Master();
  Master(const Master&) = delete;
  Master& operator=(const Master&) = delete;

  Outcome read_coils(int first, int count, std::vector<std::uint8_t>* values = nullptr);
  Outcome read_registers(int first, int count, std::vector<std::uint16_t>* values = nullptr);
  Outcome write_register(int address, int value);
  // Sends a request PDU as it stands and receives the reply ADU unchecked.
  Outcome raw(const std::vector<std::uint8_t>& pdu, std::vector<std::uint8_t>* reply);

  // The 20 reads of a poll cycle in order, up to the first failure. Returns
  // the reads that succeeded and collects the first word of every register
  // read (the generation marks) and the coils read from 8001.
  struct Cycle {
    int completed = 0;
    Outcome failure{0, 0};
    std::vector<std::uint16_t> first_words;
    std::vector<std::uint8_t> coils_8001;
  };
  Cycle poll_cycle();

 private:
  modbus_t* context_;
};

}  // namespace velmocair::sim::testing
