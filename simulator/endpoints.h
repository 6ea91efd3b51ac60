#pragma once

#include <string>

#include "simulator/io.h"

namespace velmocair::sim {

// A listening IPv4 TCP socket on host:port (port 0: any free port).
struct TcpListener {
  FileDescriptor socket;
  int port = -1;  // the bound port
};
TcpListener listen_tcp(const std::string& host, int port);

// A pseudo-terminal in raw mode. The simulator reads and writes the master,
// non-blocking, so that replies nobody reads are dropped instead of stalling
// the line; a Modbus master opens `path`. The simulator keeps the slave open
// too, so the line stays up while no master has it open.
struct Pty {
  FileDescriptor master;
  FileDescriptor slave;
  std::string path;
};
Pty open_pty();

// Both throw std::runtime_error with a one-line reason.

}  // namespace velmocair::sim
