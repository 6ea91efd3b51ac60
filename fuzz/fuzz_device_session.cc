// A random session of one device: refreshes, replies with any table contents,
// time-outs, commands and their echoes, cache loads of any length and content,
// status requests, value queries, configurations and a moving clock, in any
// order. After every step the device's state is one its operations allow;
// every status text parses; nothing throws where it must not.
#include <json/writer.h>

#include <algorithm>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/echo.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/io_control_check.h"
#include "host/NullController.h"

namespace {

using velmocair::fuzz::ByteReader;
using velmocair::fuzz::FuzzDevice;
using velmocair::fuzz::require;

constexpr std::uint8_t kReadCoils = 0x01;
constexpr std::uint8_t kReadHoldingRegisters = 0x03;
constexpr int kBitsPerByte = 8;
constexpr std::size_t kMaxCacheBlob = 1024;
constexpr const char* kValueMessages[] = {"数据未就绪", "不支持变量", "数据已超时"};

// Counts what the device hands the host at each completion.
class CountingHost : public NullController {
 public:
  int SendSP(ORBVDevice&, int publication_id, const unsigned char* data, unsigned length,
             bool) override {
    require(publication_id == kVelmocairPublicationId && data != nullptr &&
            length == velmocair::fuzz::kRecordSize);
    ++published;
    return 0;
  }
  int SaveDeviceHistory(ORBVDevice&, const unsigned char* data, unsigned length) override {
    require(data != nullptr && length == velmocair::fuzz::kRecordSize);
    ++stored;
    return 0;
  }
  unsigned published = 0;
  unsigned stored = 0;
};

struct Session {
  Session() {
    device.local_clock = [this] { return now; };
    device.Init(host, 1, Json::Value(Json::objectValue));
  }

  std::shared_ptr<CountingHost> host = std::make_shared<CountingHost>();
  FuzzDevice device;
  boost::posix_time::ptime now{boost::gregorian::date(2024, 1, 1)};
};

// A reply that decodes as the answer to the outstanding read, its coils or
// registers taken from the input.
std::vector<std::uint8_t> read_reply(const ModbusRequest& pending, ByteReader& in) {
  const bool bits = pending.kind == ModbusRequest::read_bits;
  const std::size_t count = static_cast<std::size_t>(pending.count);
  const std::size_t bytes = bits ? (count + kBitsPerByte - 1) / kBitsPerByte : 2 * count;
  std::vector<std::uint8_t> pdu{bits ? kReadCoils : kReadHoldingRegisters,
                                static_cast<std::uint8_t>(bytes)};
  const std::string contents = in.bytes(bytes);
  pdu.insert(pdu.end(), contents.begin(), contents.end());
  pdu.resize(2 + bytes, 0);
  return pdu;
}

void good_reply(Session& session, ByteReader& in) {
  FuzzDevice& device = session.device;
  if (!device.IsProcessing()) {
    return;
  }
  const ModbusRequest pending = device.pending_request();
  if (pending.kind == ModbusRequest::write_register) {
    velmocair::fuzz::answer_write(device, velmocair::fuzz::read_echo(in));
    return;
  }
  const int step = device.step;
  const unsigned completions = session.host->published;
  const int result = velmocair::fuzz::deliver(device, read_reply(pending, in));
  require(!device.IsStalled());
  const velmocair::PollStep* const poll = velmocair::find_poll_step(step);
  if (poll == nullptr) {
    require(result == 1 && device.step == step);  // a JSON command that wrote nothing
    return;
  }
  const void* table = pending.kind == ModbusRequest::read_bits
                          ? static_cast<const void*>(device.bit_buffer.data())
                          : static_cast<const void*>(device.register_buffer.data());
  require(std::memcmp(velmocair::record_bytes(device.record) + poll->target.offset, table,
                      poll->target.bytes) == 0);
  if (poll == &velmocair::kLastPollStep) {
    require(result == 0 && session.host->published == completions + 1 && device.data_ready);
  } else {
    require(result == 1 && device.step == step + 1 && device.IsProcessing());
  }
}

void raw_reply(Session& session, ByteReader& in) {
  FuzzDevice& device = session.device;
  const std::string bytes = in.bytes(in.u8());
  const bool was_processing = device.IsProcessing();
  const int result = velmocair::fuzz::deliver(device, {bytes.begin(), bytes.end()});
  if (!was_processing || result == -1) {
    require(result == -1 && !device.IsProcessing());
  }
}

// Reply tables filled with any bytes, then handed on as the host would after
// a decode; a coil byte need not be 0 or 1.
void any_tables(Session& session, ByteReader& in) {
  FuzzDevice& device = session.device;
  const std::string bits = in.bytes(velmocair::kMaxCoilsPerRead);
  std::memcpy(device.bit_buffer.data(), bits.data(), bits.size());
  for (int i = 0; i < velmocair::kMaxRegistersPerRead; ++i) {
    device.register_buffer[static_cast<std::size_t>(i)] = in.u16();
  }
  const SPModbus::tab_type table = in.u8() % 2 == 0 ? SPModbus::tab_bits : SPModbus::tab_registers;
  const int result = device.process_payload(table, in.u8());
  require(result == 0 || result == 1);
}

void command(Session& session, ByteReader& in) {
  const int code = velmocair::fuzz::read_code(in);
  const velmocair::fuzz::Input input = velmocair::fuzz::read_input(in, in.bytes(in.u8()));
  velmocair::fuzz::checked_io_control(session.device, code, input,
                                      velmocair::fuzz::read_output(in, session.device));
}

// A JSON command as a host would write it, with a known or made-up signal id
// and any set-point text.
void json_command(Session& session, ByteReader& in) {
  const bool set_point = in.u8() % 2 == 0;
  const std::uint8_t pick = in.u8();
  Json::Value text(Json::objectValue);
  text["signal_id"] = pick < std::size(velmocair::kJsonSignals)
                          ? std::string(velmocair::kJsonSignals[pick].signal_id)
                          : in.bytes(in.u8() % 16);
  if (in.u8() % 4 != 0) {
    text["SetValue"] = in.bytes(in.u8() % 24);
  }
  const std::string written = Json::FastWriter().write(text);
  const int code = set_point ? velmocair::kJsonSetPointCode : velmocair::kJsonSwitchCode;
  velmocair::fuzz::checked_io_control(session.device, code,
                                      {written, static_cast<int>(written.size()), false},
                                      velmocair::fuzz::read_output(in, session.device));
}

// A cache blob of any length and content, by pointer or as a string; only a
// whole record is taken, and it completes at once.
void load_from_cache(Session& session, ByteReader& in) {
  FuzzDevice& device = session.device;
  const std::uint8_t form = in.u8() % 4;
  const std::size_t length =
      form == 0 ? velmocair::fuzz::kRecordSize : in.u16() % (kMaxCacheBlob + 1);
  std::string blob = in.bytes(length);
  blob.resize(length, '\0');
  const unsigned before = session.host->published;
  const auto record_before = device.record;
  bool loaded = false;
  if (form == 3) {
    loaded = device.LoadFromCache(nullptr, static_cast<int>(length));
  } else if (form == 2) {
    loaded = device.LoadFromCache(blob);
  } else {
    velmocair::fuzz::ExactBuffer<> exact(blob.size());
    std::copy(blob.begin(), blob.end(), exact.data());
    loaded = device.LoadFromCache(exact.data(), static_cast<int>(blob.size()));
  }
  require(loaded == (form != 3 && length == velmocair::fuzz::kRecordSize));
  if (loaded) {
    require(session.host->published == before + 1 && device.data_ready);
    require(std::memcmp(&device.record, blob.data(), offsetof(Velmocair_Data_t, time_stamp)) == 0);
  } else {
    require(session.host->published == before &&
            std::memcmp(&device.record, &record_before, sizeof record_before) == 0);
  }
}

void status(Session& session, ByteReader& in, int code) {
  velmocair::fuzz::checked_io_control(session.device, code, {{}, 0, true},
                                      velmocair::fuzz::read_output(in, session.device));
}

void get_value(Session& session, ByteReader& in) {
  const unsigned id = static_cast<unsigned>(in.i32());
  const std::string name = in.bytes(in.u8() % 16);
  try {
    session.device.Get_Value(id, name);
  } catch (const std::out_of_range& error) {
    for (const char* message : kValueMessages) {
      if (std::strcmp(error.what(), message) == 0) {
        return;
      }
    }
  } catch (...) {
  }
  velmocair::fuzz::fail();  // it always reports by one of its three messages
}

void time_out(Session& session) {
  if (session.device.IsProcessing()) {
    session.device.abandon_exchange();
    require(session.device.IsStalled() && !session.device.IsProcessing());
  }
}

void move_clock(Session& session, ByteReader& in) {
  const std::int32_t seconds = static_cast<std::int16_t>(in.u16());
  session.now += boost::posix_time::seconds(seconds);
}

// A configuration whose "b_mode" is any text or number.
void configure(Session& session, ByteReader& in) {
  Json::Value setting(Json::objectValue);
  const std::uint8_t form = in.u8() % 3;
  if (form == 0) {
    setting["appSetting"]["b_mode"] = in.bytes(in.u8() % 32);
  } else if (form == 1) {
    setting["appSetting"]["b_mode"] = static_cast<double>(in.i32()) * in.i32();
  } else {
    setting["appSetting"]["b_mode"] = in.i32();
  }
  session.device.InitSetting(setting);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Steps of a session: each input byte names one, its arguments follow.
  enum Step : std::uint8_t {
    refresh,
    reply,
    raw,
    tables,
    control,
    json,
    cache,
    status_text,
    status_reference,
    value,
    abandon,
    clock,
    setting,
    kSteps
  };
  ByteReader in(data, size);
  Session session;
  while (!in.at_end()) {
    switch (static_cast<Step>(in.u8() % kSteps)) {
      case refresh:
        require(session.device.RefreshStatus() == 1 &&
                session.device.step == velmocair::kFirstPollStep.step);
        break;
      case reply:
        good_reply(session, in);
        break;
      case raw:
        raw_reply(session, in);
        break;
      case tables:
        any_tables(session, in);
        break;
      case control:
        command(session, in);
        break;
      case json:
        json_command(session, in);
        break;
      case cache:
        load_from_cache(session, in);
        break;
      case status_text:
        status(session, in, velmocair::kStatusTextCode);
        break;
      case status_reference:
        status(session, in, velmocair::kStatusReferenceCode);
        break;
      case value:
        get_value(session, in);
        break;
      case abandon:
        time_out(session);
        break;
      case clock:
        move_clock(session, in);
        break;
      case setting:
        configure(session, in);
        break;
      case kSteps:
        break;
    }
    velmocair::fuzz::check_state(session.device);
    require(session.host->published == session.host->stored);
  }
  return 0;
}
