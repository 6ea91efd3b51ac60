#include "tests/robustness/unit_under_test.h"

#include <stdexcept>

#include "tests/robustness/generation_marks.h"

namespace velmocair::robustness {

void RecordLog::add(const unsigned char* data, std::size_t length) {
  const std::optional<std::uint16_t> generation = generation_of(data, length);
  const std::lock_guard<std::mutex> lock(mutex_);
  ++records_;
  if (generation) {
    seen_.set(*generation);
  } else {
    ++mixed_;
  }
}

std::uint64_t RecordLog::records() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::uint64_t RecordLog::mixed() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return mixed_;
}

std::optional<std::uint16_t> RecordLog::first_after(std::uint16_t generation) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t later = std::size_t{generation} + 1; later < seen_.size(); ++later) {
    if (seen_.test(later)) {
      return static_cast<std::uint16_t>(later);
    }
  }
  return std::nullopt;
}

// The host's unit controller, also logging every record the device
// publishes and stores.
class UnitUnderTest::Controller : public sitehost::UnitController {
 public:
  Controller(sitehost::HostServices services, RecordLog& published, RecordLog& stored)
      : UnitController(services), published_(published), stored_(stored) {}

  int SendSP(ORBVDevice& device, int publication_id, const unsigned char* data, unsigned length,
             bool flag) override {
    published_.add(data, length);
    return UnitController::SendSP(device, publication_id, data, length, flag);
  }
  int SaveDeviceHistory(ORBVDevice& device, const unsigned char* data, unsigned length) override {
    stored_.add(data, length);
    return UnitController::SaveDeviceHistory(device, data, length);
  }

 private:
  RecordLog& published_;
  RecordLog& stored_;
};

namespace {

sim::ServerOptions server_options(const UnitSetup& setup) {
  sim::ServerOptions options;
  options.tcp_port = setup.transport == Transport::tcp ? 0 : -1;
  options.rtu_pty = setup.transport == Transport::rtu;
  options.unit_ids = {UnitUnderTest::kUnitId};
  options.faults = setup.faults;
  options.mark_generations = true;
  return options;
}

sitehost::BusAddress bus_address(const UnitSetup& setup, const sim::Server& server) {
  sitehost::BusAddress address;
  if (setup.transport == Transport::tcp) {
    address.kind = sitehost::BusAddress::tcp;
    address.endpoint = {"127.0.0.1", server.tcp_port()};
  } else {
    address.kind = sitehost::BusAddress::rtu;
    address.line.device = server.pty_path();
    address.line.baud = 9600;
  }
  return address;
}

}  // namespace

UnitUnderTest::UnitUnderTest(const UnitSetup& setup)
    : plugin_(VELMOCAIR_PLUGIN_PATH),
      server_(std::make_unique<sim::Server>(server_options(setup))) {
  if (!setup.history_path.empty()) {
    std::string error;
    std::unique_ptr<sitehost::HistoryStore> store = sitehost::HistoryStore::open(
        setup.history_path, sitehost::HistoryStore::Access::read_write, error);
    if (store == nullptr) {
      throw std::runtime_error(error);
    }
    history_ = std::make_unique<sitehost::HistoryWriter>(std::move(store), nullptr);
  }
  controller_ = std::make_shared<Controller>(
      sitehost::HostServices{publisher_, thresholds_, history_.get()}, published_, stored_);
  device_ = plugin_.create_device();
  auto* modbus = dynamic_cast<SPModbus*>(device_.get());
  if (modbus == nullptr ||
      device_->Init(controller_, setup.data_id, Json::Value(Json::objectValue)) != 0) {
    throw std::runtime_error("the plug-in's device is no Modbus device or refused its setting");
  }
  bus_ = std::make_unique<sitehost::BusWorker>(
      std::make_unique<sitehost::ModbusLink>(bus_address(setup, *server_), setup.timing),
      std::vector<sitehost::BusUnit>{
          {"unit", modbus, controller_.get()}
  },
      sitehost::BusSchedule{-1, setup.interval}, [this](const sitehost::CycleReport& report) {
        {
          const std::lock_guard<std::mutex> lock(mutex_);
          ++polls_.polls;
          polls_.completed += report.completed ? 1 : 0;
        }
        reported_.notify_all();
      });
}

UnitUnderTest::~UnitUnderTest() { stop(); }

void UnitUnderTest::start() {
  server_->start();
  bus_->start();
}

void UnitUnderTest::stop() {
  bus_->stop();
  if (history_ != nullptr) {
    history_->stop();
  }
}

bool UnitUnderTest::wait_reports(std::uint64_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return reported_.wait_for(lock, limit, [&] { return polls_.polls >= count; });
}

PollTally UnitUnderTest::polls() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return polls_;
}

std::optional<UnitUnderTest::CommandRun> UnitUnderTest::command(const cli::CommandAction& action,
                                                                int value,
                                                                std::chrono::milliseconds limit) {
  // The job runs on the bus thread, where nothing else is exchanged while it
  // runs: the faults counted meanwhile are those that struck its write.
  auto run = std::make_shared<CommandRun>();
  const auto counts = [server = server_.get()] {
    std::array<std::uint64_t, sim::kFaultKinds> counted{};
    for (std::size_t kind = 0; kind < counted.size(); ++kind) {
      counted[kind] = server->faults(static_cast<sim::FaultKind>(kind));
    }
    return counted;
  };
  std::future<void> done =
      bus_->submit(0, [job = cli::command_job(action, value, false, run->outcome), run, counts](
                          SPModbus& device, const sitehost::CarryOut& carry_out) {
        const auto before = counts();
        job(device, carry_out);
        const auto after = counts();
        for (std::size_t kind = 0; kind < after.size(); ++kind) {
          run->struck[kind] = after[kind] - before[kind];
        }
      });
  if (done.wait_for(limit) != std::future_status::ready) {
    return std::nullopt;
  }
  done.get();
  return *run;
}

}  // namespace velmocair::robustness
