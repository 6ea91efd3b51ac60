#include "tests/support/host_run.h"

#include <json/reader.h>
#include <json/writer.h>

#include <sstream>

#include "device/poll_cycle_table.h"

namespace velmocair::testing {
namespace {

Json::Value parse_json(const std::string& text) {
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  reader->parse(text.data(), text.data() + text.size(), &value, nullptr);
  return value;
}

}  // namespace

std::vector<std::string> HostRun::out_starting(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& line : out) {
    if (line.rfind(prefix, 0) == 0) {
      found.push_back(line);
    }
  }
  return found;
}

std::vector<std::string> HostRun::err_containing(const std::string& part) const {
  std::vector<std::string> found;
  for (const std::string& line : err) {
    if (line.find(part) != std::string::npos) {
      found.push_back(line);
    }
  }
  return found;
}

std::vector<Json::Value> HostRun::status_documents() const {
  std::vector<Json::Value> documents;
  for (const std::string& line : out_starting("{")) {
    documents.push_back(parse_json(line));
  }
  return documents;
}

std::string HostRun::transcript() const {
  std::ostringstream text;
  text << "exit status " << status << "\n--- stdout\n";
  for (const std::string& line : out) {
    text << line.substr(0, 160) << "\n";
  }
  text << "--- stderr\n";
  for (const std::string& line : err) {
    text << line << "\n";
  }
  return text.str();
}

HostRun run_host(const ScratchFolder& folder, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{VELMOCAIR_HOST_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const std::string out = folder.path("host.out");
  const std::string err = folder.path("host.err");
  HostRun run;
  {
    ChildProcess host(argv, out, err);
    run.status = host.wait(kHostTimeLimit);
  }
  run.out = lines_of(read_file(out));
  run.err = lines_of(read_file(err));
  return run;
}

std::vector<Json::Value> read_trace(const std::string& path) {
  std::vector<Json::Value> calls;
  for (const std::string& line : lines_of(read_file(path))) {
    calls.push_back(parse_json(line));
  }
  return calls;
}

std::vector<Json::Value> calls_named(const std::vector<Json::Value>& trace,
                                     const std::string& name) {
  std::vector<Json::Value> found;
  for (const Json::Value& call : trace) {
    if (call["call"].asString() == name) {
      found.push_back(call);
    }
  }
  return found;
}

std::vector<unsigned char> from_hex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string transport_name(Transport transport) {
  return transport == Transport::tcp ? "Tcp" : "Rtu";
}

SimulatedBus::SimulatedBus(Transport transport, sim::ServerOptions options)
    : transport_(transport) {
  options.tcp_port = transport == Transport::tcp ? 0 : -1;
  options.rtu_pty = transport == Transport::rtu;
  server_ = std::make_unique<sim::Server>(options);
  server_->start();
}

std::vector<std::string> SimulatedBus::host_options() const {
  if (transport_ == Transport::tcp) {
    return {"--tcp", "127.0.0.1:" + std::to_string(server_->tcp_port())};
  }
  return {"--rtu", server_->pty_path()};
}

Json::Value SimulatedBus::site_transport() const {
  Json::Value transport(Json::objectValue);
  if (transport_ == Transport::tcp) {
    transport["tcp"] = "127.0.0.1:" + std::to_string(server_->tcp_port());
  } else {
    transport["rtu"] = server_->pty_path();
  }
  return transport;
}

std::string SimulatedBus::write_site(const ScratchFolder& folder,
                                     const std::vector<std::pair<std::string, int>>& units) const {
  Json::Value site(Json::objectValue);
  for (const auto& [name, address] : units) {
    Json::Value unit(Json::objectValue);
    unit["name"] = name;
    unit["data_id"] = address;
    unit["transport"] = site_transport();
    unit["setting"]["modbus"]["unit_id"] = address;
    site["units"].append(unit);
  }
  const std::string path = folder.path("site.json");
  write_file(path, Json::writeString(Json::StreamWriterBuilder(), site));
  return path;
}

std::vector<unsigned char> expected_record_body(const sim::Server& server, int unit_id) {
  std::vector<unsigned char> body;
  for (const PollStep& step : kPollCycle) {
    if (step.request.kind == ReadKind::coils) {
      for (const std::uint8_t coil :
           server.coils(unit_id, step.request.first, step.request.count)) {
        body.push_back(coil);
      }
    } else {
      for (const std::uint16_t word :
           server.registers(unit_id, step.request.first, step.request.count)) {
        body.push_back(static_cast<unsigned char>(word & 0xFF));
        body.push_back(static_cast<unsigned char>(word >> 8));
      }
    }
  }
  return body;
}

PymodbusUnit::PymodbusUnit(const ScratchFolder& folder)
    : folder_(folder),
      process_({"/usr/bin/python3", VELMOCAIR_PYMODBUS_UNIT}, folder.path("pymodbus.out"),
               folder.path("pymodbus.err"), Runs::on_machine) {
  constexpr const char* kListening = "listening tcp ";
  constexpr std::chrono::seconds kStartLimit{60};
  const std::string listening =
      wait_for_line(process_, folder.path("pymodbus.out"), kListening, kStartLimit);
  if (!listening.empty()) {
    endpoint_ = listening.substr(std::string(kListening).size());
  }
}

PymodbusUnit::~PymodbusUnit() {
  constexpr std::chrono::seconds kStopGrace{10};
  process_.terminate(kStopGrace);
}

std::string PymodbusUnit::errors() const { return read_file(folder_.path("pymodbus.err")); }

std::vector<std::string> joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

std::string write_scenario(const ScratchFolder& folder, const Json::Value& scenario) {
  const std::string path = folder.path("scenario.json");
  write_file(path, Json::writeString(Json::StreamWriterBuilder(), scenario));
  return path;
}

}  // namespace velmocair::testing
