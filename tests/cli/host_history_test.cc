// velmocair-host keeping the device history in SQLite: one row per cycle, the
// newest row reloaded through LoadFromCache before the first poll of a
// restarted host, and stored records decoded again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

constexpr std::uint32_t kDataId = 4242;
constexpr std::size_t kFirstIndoorRegister = 79;  // register 8001: the generation mark

struct Row {
  std::uint32_t data_id;
  std::vector<unsigned char> record;
};

std::vector<Row> rows_of(const std::string& path) {
  sqlite3* db = nullptr;
  std::vector<Row> rows;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT data_id, record FROM history ORDER BY id", -1, &statement,
                     nullptr);
  while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(statement, 1));
    rows.push_back({
        static_cast<std::uint32_t>(sqlite3_column_int64(statement, 0)),
        {blob, blob + sqlite3_column_bytes(statement, 1)}
    });
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

std::uint16_t generation_of(const std::vector<unsigned char>& record) {
  return static_cast<std::uint16_t>(record[kFirstIndoorRegister] |
                                    (record[kFirstIndoorRegister + 1] << 8));
}

std::vector<unsigned char> body_of(const std::vector<unsigned char>& record) {
  return {record.begin() + kBodyFirst, record.begin() + kBodyEnd};
}

class HostHistory : public ::testing::Test {
 protected:
  HostHistory() : bus_(Transport::tcp, marked()) {}

  static sim::ServerOptions marked() {
    sim::ServerOptions options;
    options.mark_generations = true;  // every cycle's record differs
    return options;
  }

  HostRun poll(int cycles, const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments = bus_.host_options();
    arguments.insert(arguments.end(),
                     {"--cycles", std::to_string(cycles), "--interval", "0", "--status",
                      "--data-id", std::to_string(kDataId), "--history", history_});
    arguments.insert(arguments.end(), more.begin(), more.end());
    return run_host(folder_, arguments);
  }

  ScratchFolder folder_;
  SimulatedBus bus_;
  std::string history_ = folder_.path("history.sqlite");
};

TEST_F(HostHistory, HoldsOneRowPerCycle) {
  const HostRun run = poll(3);
  ASSERT_EQ(run.status, 0) << run.transcript();
  const std::vector<Row> rows = rows_of(history_);
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].data_id, kDataId);
    ASSERT_EQ(rows[i].record.size(), kRecordSize);
    EXPECT_EQ(generation_of(rows[i].record), i + 1) << "row " << i;
  }
  EXPECT_EQ(body_of(rows.back().record), expected_record_body(bus_.server(), 1));
}

TEST_F(HostHistory, ARestartedHostReloadsTheNewestRowBeforeItsFirstPoll) {
  ASSERT_EQ(poll(3).status, 0);
  const std::vector<unsigned char> newest = rows_of(history_).back().record;
  const std::string trace_path = folder_.path("trace.jsonl");
  const HostRun run = poll(1, {"--trace", trace_path});
  ASSERT_EQ(run.status, 0) << run.transcript();
  EXPECT_EQ(run.err_containing("loaded the newest stored record").size(), 1u) << run.transcript();

  const std::vector<Json::Value> trace = read_trace(trace_path);
  const auto first_named = [&trace](const char* name) {
    return std::find_if(trace.begin(), trace.end(),
                        [name](const Json::Value& call) { return call["call"] == name; });
  };
  const auto reload = first_named("SendSP");
  ASSERT_NE(reload, trace.end());
  EXPECT_LT(reload, first_named("modbus_read_bits")) << "the reload comes before the first poll";
  EXPECT_EQ(body_of(from_hex((*reload)["args"][1].asString())), body_of(newest));

  EXPECT_EQ(calls_named(trace, "SaveDeviceHistory").size(), 2u)
      << "the device saves the reloaded record and the polled one";
  const std::vector<Row> rows = rows_of(history_);
  ASSERT_EQ(rows.size(), 4u) << "3 cycles, 1 cycle: the reloaded record is not stored again";
  EXPECT_EQ(body_of(rows[2].record), body_of(newest));
  EXPECT_EQ(generation_of(rows[3].record), 4);
}

// Starts that poll nothing leave the history as it was, though each reloads
// the newest row.
TEST_F(HostHistory, AStartThatPollsNothingAddsNoRow) {
  ASSERT_EQ(poll(2).status, 0);
  const std::vector<Row> before = rows_of(history_);
  ASSERT_EQ(before.size(), 2u);
  const std::string unreachable = "127.0.0.1:" + std::to_string(closed_tcp_port());
  // clang-format off
  const std::vector<std::string> starts[] = {
      {"--tcp", unreachable, "--cycles", "1", "--data-id", std::to_string(kDataId)},
      {"command", "start", "--tcp", unreachable, "--data-id", std::to_string(kDataId)},
  };
  // clang-format on
  for (std::vector<std::string> arguments : starts) {
    arguments.insert(arguments.end(), {"--history", history_, "--timeout-ms", "200"});
    const HostRun run = run_host(folder_, arguments);
    EXPECT_EQ(run.status, 1) << run.transcript();
    EXPECT_EQ(run.err_containing("loaded the newest stored record").size(), 1u) << run.transcript();
    const std::vector<Row> after = rows_of(history_);
    ASSERT_EQ(after.size(), before.size()) << arguments[0] << "\n" << run.transcript();
  }
}

// Makes a file unwritable for the tests' user: read-only permissions, and for
// root, who writes regardless, the immutable attribute where the file system
// has it. Undone when it goes.
class UnwritableFile {
 public:
  explicit UnwritableFile(std::string path) : path_(std::move(path)) {
    chmod(path_.c_str(), S_IRUSR | S_IRGRP | S_IROTH);
    if (access(path_.c_str(), W_OK) == 0) {
      immutable_ = set_flags(FS_IMMUTABLE_FL);
    }
  }
  ~UnwritableFile() {
    if (immutable_) {
      set_flags(0);
    }
    chmod(path_.c_str(), S_IRUSR | S_IWUSR);
  }
  UnwritableFile(const UnwritableFile&) = delete;
  UnwritableFile& operator=(const UnwritableFile&) = delete;
  bool made() const { return access(path_.c_str(), W_OK) != 0; }

 private:
  bool set_flags(int flags) const {
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    const bool set = fd >= 0 && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return set;
  }

  std::string path_;
  bool immutable_ = false;
};

// A history file the host may not write ends it at start, before it polls,
// as a folder it may not write does.
TEST_F(HostHistory, RefusesAtStartAFileItCannotWrite) {
  ASSERT_EQ(poll(1).status, 0);
  const UnwritableFile unwritable(history_);
  if (!unwritable.made()) {
    GTEST_SKIP() << "this file system lets the tests' user write any file";
  }
  const HostRun run = poll(1);
  EXPECT_EQ(run.status, 1) << run.transcript();
  EXPECT_EQ(run.err, std::vector<std::string>{"velmocair-host: cannot write history " + history_ +
                                              ": the file is read-only"})
      << run.transcript();
  EXPECT_TRUE(run.status_documents().empty());
}

TEST_F(HostHistory, DecodesStoredRecords) {
  ASSERT_EQ(poll(2).status, 0);
  const std::vector<unsigned char> newest = rows_of(history_).back().record;
  const HostRun from_history = run_host(folder_, {"decode", "--history", history_});
  ASSERT_EQ(from_history.status, 0) << from_history.transcript();
  const std::vector<Json::Value> documents = from_history.status_documents();
  ASSERT_EQ(documents.size(), 1u);
  // The generation mark also stands in set-point register 3501, in tenths.
  EXPECT_FLOAT_EQ(documents[0]["参数设定"]["回风温度设定值"].asFloat(), 0.2F);

  const std::string record_path = folder_.path("record.bin");
  write_file(record_path, std::string(newest.begin(), newest.end()));
  const HostRun from_file = run_host(folder_, {"decode", record_path});
  ASSERT_EQ(from_file.status, 0) << from_file.transcript();
  ASSERT_EQ(from_file.status_documents().size(), 1u);
  EXPECT_EQ(from_file.status_documents()[0]["参数设定"], documents[0]["参数设定"]);

  write_file(record_path, std::string(newest.begin(), newest.end() - 1));
  const HostRun short_record = run_host(folder_, {"decode", record_path});
  EXPECT_EQ(short_record.status, 1);
  EXPECT_EQ(
      short_record.err_containing("refused the record (440 bytes; 441 bytes expected)").size(), 1u)
      << short_record.transcript();

  const HostRun missing = run_host(folder_, {"decode", folder_.path("no-such-record.bin")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing
                .err_containing("no-such-record.bin: cannot read the record: No such file or "
                                "directory")
                .size(),
            1u)
      << missing.transcript();

  const HostRun other_unit =
      run_host(folder_, {"decode", "--history", history_, "--data-id", "999"});
  EXPECT_EQ(other_unit.status, 1);
  EXPECT_EQ(other_unit.err_containing("no stored record of data id 999").size(), 1u)
      << other_unit.transcript();
}

}  // namespace
}  // namespace velmocair::testing
