// velmocair-host whose history file reaches a file size limit (as on a full
// disk): polling goes on, the failure is reported once, the rows not stored
// are counted and reported once storing resumes after the limit is lifted,
// and the file passes SQLite's integrity check with every row whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "tests/robustness/history_file.h"
#include "tests/support/host_run.h"

namespace velmocair::robustness {
namespace {

using std::chrono::milliseconds;

constexpr std::uint32_t kDataId = 31;
// The limit, and a history made larger than it before the host starts: no
// page beyond the limit can be written, so the log fills to the limit and
// no checkpoint can empty it.
constexpr rlim_t kFileSizeLimit = 512 * 1024;
constexpr int kPrefilledRows = 1500;
constexpr milliseconds kPatience{60000};

// Waits until the file holds `text`; false past the patience.
bool wait_for(const std::string& path, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (testing::read_file(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

std::size_t count_of(const std::vector<std::string>& lines, const std::string& part) {
  std::size_t count = 0;
  for (const std::string& line : lines) {
    count += line.find(part) != std::string::npos ? 1 : 0;
  }
  return count;
}

// Completed cycles the host printed, one summary line each.
std::size_t cycles_in(const std::string& out) {
  std::size_t count = 0;
  for (const std::string& line : testing::lines_of(testing::read_file(out))) {
    count += line.rfind("cycle ", 0) == 0 ? 1 : 0;
  }
  return count;
}

// Sets this process's file size limit for the child about to start (the
// child keeps it), and puts the old one back when it goes.
class FileSizeLimitForChild {
 public:
  explicit FileSizeLimitForChild(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &kept_);
    rlimit limited = kept_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
    signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimitForChild() { setrlimit(RLIMIT_FSIZE, &kept_); }
  FileSizeLimitForChild(const FileSizeLimitForChild&) = delete;
  FileSizeLimitForChild& operator=(const FileSizeLimitForChild&) = delete;

 private:
  rlimit kept_{};
};

TEST(HistoryFullDisk, PollingGoesOnAndStoringResumesWithTheLostRowsCounted) {
  testing::ScratchFolder folder;
  testing::SimulatedBus bus(testing::Transport::tcp, sim::ServerOptions{});
  const std::string history = folder.path("history.sqlite");
  ASSERT_EQ(prefill_history(history, kDataId, kPrefilledRows), "");
  ASSERT_GT(stored_rows(history).size() * testing::kRecordSize, kFileSizeLimit);

  std::vector<std::string> arguments{VELMOCAIR_HOST_PATH};
  const std::vector<std::string> where = bus.host_options();
  arguments.insert(arguments.end(), where.begin(), where.end());
  arguments.insert(arguments.end(), {"--interval", "0.01", "--data-id", std::to_string(kDataId),
                                     "--history", history});
  const std::string out = folder.path("host.out");
  const std::string err = folder.path("host.err");
  std::unique_ptr<testing::ChildProcess> host;
  {
    const FileSizeLimitForChild limit(kFileSizeLimit);
    host = std::make_unique<testing::ChildProcess>(arguments, out, err);
  }
  ASSERT_TRUE(wait_for(err, "rows that cannot be stored are counted")) << testing::read_file(err);
  // Polling goes on while nothing can be stored.
  const std::size_t cycles_then = cycles_in(out);
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_GT(cycles_in(out), cycles_then);

  const rlimit lifted{RLIM_INFINITY, RLIM_INFINITY};
  ASSERT_EQ(prlimit(host->pid(), RLIMIT_FSIZE, &lifted, nullptr), 0);
  ASSERT_TRUE(wait_for(err, "storing rows again")) << testing::read_file(err);
  std::this_thread::sleep_for(milliseconds(200));
  host->terminate(milliseconds(20000));

  const std::vector<std::string> errors = testing::lines_of(testing::read_file(err));
  EXPECT_EQ(count_of(errors, "rows that cannot be stored are counted"), 1u)
      << testing::read_file(err);
  ASSERT_EQ(count_of(errors, "storing rows again"), 1u) << testing::read_file(err);
  std::size_t lost = 0;
  for (const std::string& line : errors) {
    if (const std::size_t at = line.find("storing rows again; "); at != std::string::npos) {
      lost = std::stoul(line.substr(at + std::string("storing rows again; ").size()));
    }
  }
  EXPECT_GT(lost, 0u);

  ASSERT_EQ(integrity_check(history), "ok");
  const std::vector<StoredRow> rows = stored_rows(history);
  for (const StoredRow& row : rows) {
    ASSERT_EQ(row.record.size(), testing::kRecordSize) << "row " << row.id;
  }
  // Every completed cycle was stored or counted as lost.
  const std::size_t cycles = cycles_in(out);
  EXPECT_EQ(rows.size() - kPrefilledRows + lost, cycles)
      << rows.size() - kPrefilledRows << " stored, " << lost << " lost";
}

}  // namespace
}  // namespace velmocair::robustness
