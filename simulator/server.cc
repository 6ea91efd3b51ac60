#include "simulator/server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "simulator/endpoints.h"
#include "simulator/fault_plan.h"
#include "simulator/scenario.h"
#include "simulator/session.h"
#include "simulator/unit.h"

namespace velmocair::sim {
namespace {

constexpr int kMaxUnitId = 247;
constexpr int kMaxPort = 65535;

// Returns the options once they are found sound; throws otherwise.
const ServerOptions& checked(const ServerOptions& options) {
  if (options.tcp_port < -1 || options.tcp_port > kMaxPort) {
    throw std::runtime_error("TCP port must lie in 0..65535");
  }
  if (options.tcp_port < 0 && !options.rtu_pty) {
    throw std::runtime_error("nothing to serve: no TCP port and no pseudo-terminal");
  }
  if (options.unit_ids.empty()) {
    throw std::runtime_error("no unit id to serve");
  }
  std::vector<int> ids = options.unit_ids;
  ids.insert(ids.end(), options.other_device_ids.begin(), options.other_device_ids.end());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const int id = ids[i];
    if (id < 1 || id > kMaxUnitId) {
      throw std::runtime_error("unit id " + std::to_string(id) + " is outside 1..247");
    }
    if (std::count(ids.begin(), ids.begin() + static_cast<long>(i), id) != 0) {
      throw std::runtime_error("unit id " + std::to_string(id) + " is given twice");
    }
  }
  if (options.line && !is_line_rate(options.line->baud)) {
    throw std::runtime_error("line rate " + std::to_string(options.line->baud) +
                             " is no rate a serial line is set to");
  }
  if (options.pace_baud < 0) {
    throw std::runtime_error("pace baud must not be negative");
  }
  if (options.strict_silence && options.pace_baud == 0) {
    throw std::runtime_error("strict silence needs a pace baud: the line's timing");
  }
  if (options.idle_close_ms < 0) {
    throw std::runtime_error("idle close must not be negative");
  }
  for (const FaultRule& rule : options.faults.rules) {
    const std::string problem = check_fault_rule(rule);
    if (!problem.empty()) {
      throw std::runtime_error(problem);
    }
    if (rule.unit_id != 0 && std::find(options.unit_ids.begin(), options.unit_ids.end(),
                                       rule.unit_id) == options.unit_ids.end()) {
      throw std::runtime_error(std::string("fault ") + fault_name(rule.kind) + ": unit " +
                               std::to_string(rule.unit_id) + " is not served");
    }
  }
  return options;
}

// A session thread and whether it has finished, so the acceptor can reap it.
struct SessionThread {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

}  // namespace

struct Server::Impl {
  explicit Impl(const ServerOptions& given) : options(checked(given)), plan(options.faults.rules) {
    const std::map<int, UnitSetup> setups =
        options.scenario_path.empty() ? std::map<int, UnitSetup>{}
                                      : load_scenario(options.scenario_path, options.unit_ids);
    for (const int id : options.unit_ids) {
      const auto setup = setups.find(id);
      units.emplace(id,
                    std::make_unique<Unit>(id, setup == setups.end() ? UnitSetup{} : setup->second,
                                           options.mark_generations, options.faults.seed, false));
    }
    for (const int id : options.other_device_ids) {
      units.emplace(id, std::make_unique<Unit>(id, UnitSetup{}, false, options.faults.seed, true));
    }
    if (options.tcp_port >= 0) {
      listener = listen_tcp(options.tcp_host, options.tcp_port);
    }
    if (options.rtu_pty) {
      pty = open_pty();
    }
  }

  void accept_connections() {
    while (stop.wait_readable(listener.socket.get(), std::chrono::nanoseconds(-1)) == Wait::ready) {
      FileDescriptor connection(::accept4(listener.socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!connection) {
        continue;
      }
      const int on = 1;
      ::setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      const std::lock_guard<std::mutex> lock(sessions_mutex);
      reap_sessions();
      auto done = std::make_shared<std::atomic<bool>>(false);
      sessions.push_back({std::thread([this, done, fd = std::move(connection)] {
                            serve_tcp(fd, context);
                            done->store(true);
                          }),
                          done});
    }
  }

  // Joins sessions whose connection has ended.
  void reap_sessions() {
    for (auto session = sessions.begin(); session != sessions.end();) {
      if (session->done->load()) {
        session->thread.join();
        session = sessions.erase(session);
      } else {
        ++session;
      }
    }
  }

  const ServerOptions options;
  std::map<int, std::unique_ptr<Unit>> units;
  const FaultPlan plan;
  Counters counters;
  StopSignal stop;
  TcpListener listener;
  Pty pty;
  const ServeContext context{units, plan, stop, options, counters};
  std::mutex lifecycle_mutex;  // start and stop
  bool started = false;
  bool stopped = false;
  std::thread acceptor;
  std::thread rtu;
  std::mutex sessions_mutex;
  std::list<SessionThread> sessions;
};

Server::Server(const ServerOptions& options) : impl_(std::make_unique<Impl>(options)) {}

Server::~Server() { stop(); }

int Server::tcp_port() const { return impl_->listener.port; }

const std::string& Server::pty_path() const { return impl_->pty.path; }

void Server::start() {
  const std::lock_guard<std::mutex> lock(impl_->lifecycle_mutex);
  if (impl_->started || impl_->stopped) {
    return;
  }
  impl_->started = true;
  if (impl_->listener.socket) {
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->accept_connections(); });
  }
  if (impl_->pty.master) {
    impl_->rtu = std::thread([impl = impl_.get()] { serve_rtu(impl->pty, impl->context); });
  }
}

void Server::stop() {
  const std::lock_guard<std::mutex> lock(impl_->lifecycle_mutex);
  if (impl_->stopped) {
    return;
  }
  impl_->stopped = true;
  impl_->stop.raise();
  if (impl_->acceptor.joinable()) {
    impl_->acceptor.join();
  }
  if (impl_->rtu.joinable()) {
    impl_->rtu.join();
  }
  const std::lock_guard<std::mutex> sessions_lock(impl_->sessions_mutex);
  for (SessionThread& session : impl_->sessions) {
    session.thread.join();
  }
  impl_->sessions.clear();
}

std::uint64_t Server::requests() const { return impl_->counters.requests.load(); }

std::uint64_t Server::writes() const { return impl_->counters.writes.load(); }

std::uint64_t Server::early_requests() const { return impl_->counters.early_requests.load(); }

std::uint64_t Server::faults(FaultKind kind) const {
  return impl_->counters.faults[static_cast<std::size_t>(kind)].load();
}

namespace {
const Unit& find_unit(const std::map<int, std::unique_ptr<Unit>>& units, int id) {
  const auto found = units.find(id);
  if (found == units.end()) {
    throw std::out_of_range("unit " + std::to_string(id) + " is not served");
  }
  return *found->second;
}
}  // namespace

int Server::cycles(int unit_id) const { return find_unit(impl_->units, unit_id).cycles(); }

std::vector<std::uint8_t> Server::coils(int unit_id, int first, int count) const {
  return find_unit(impl_->units, unit_id).coils(first, count);
}

std::vector<std::uint16_t> Server::registers(int unit_id, int first, int count) const {
  return find_unit(impl_->units, unit_id).registers(first, count);
}

}  // namespace velmocair::sim
