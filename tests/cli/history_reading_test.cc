// The history's reading commands in-process: rows decoded without a device
// give the same bytes as through the plug-in's document (CSV, JSON lines,
// compact JSON lines); the fall-back when the plug-in's document differs in
// one leaf or point; ISO 8601 times; -o into a FIFO; SIGINT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <thread>

#include "cli/history/decoder_check.h"
#include "cli/history/iso_time.h"
#include "cli/history/output_file.h"
#include "cli/history/row_export.h"
#include "cli/history/stored_rows.h"
#include "cli/options/exit_status.h"
#include "cli/runtime/interrupt.h"
#include "device/Velmocair_Data_t.h"
#include "host/services/history_store.h"
#include "tests/support/child_process.h"

namespace velmocair::testing {
namespace {

using cli::Decoding;
using cli::ExportFormat;
using status::RecordBytes;

constexpr std::size_t kStamp = offsetof(Velmocair_Data_t, time_stamp);

// Two units, seeded random records: every byte of the body random, or
// (one row in four) each at 0, 1 or 2 so that state texts meet their
// values; stored a second apart, unit 2 between the rows of unit 1.
void write_random_history(const std::string& path, int rows) {
  std::string error;
  auto store =
      sitehost::HistoryStore::open(path, sitehost::HistoryStore::Access::read_write, error);
  ASSERT_NE(store, nullptr) << error;
  std::mt19937 random(21);
  std::vector<sitehost::HistoryRow> stored;
  for (int i = 0; i < rows; ++i) {
    sitehost::HistoryRow row;
    row.data_id = i % 3 == 0 ? 2 : 1;
    char time[32];
    std::snprintf(time, sizeof time, "2024-03-31 %02d:%02d:%02d", i / 3600, i / 60 % 60, i % 60);
    row.time = time;
    row.record.resize(sizeof(Velmocair_Data_t));
    for (std::size_t at = 0; at < row.record.size(); ++at) {
      row.record[at] = static_cast<unsigned char>(random() % (i % 4 == 0 ? 3 : 256));
    }
    row.record[kStamp] = 0xE8;  // 2024
    row.record[kStamp + 1] = 0x07;
    stored.push_back(std::move(row));
  }
  ASSERT_EQ(store->append_all(stored), "");
}

cli::HostOptions reading(const std::string& history) {
  cli::HostOptions options;
  options.history = history;
  options.plugin = VELMOCAIR_PLUGIN_PATH;
  return options;
}

std::string exported(const cli::HostOptions& options, Decoding decoding,
                     const cli::ExportSettings& settings, const std::string& path) {
  cli::StoredRows rows(options, decoding);
  EXPECT_EQ(rows.through_plugin(), decoding == Decoding::plugin);
  cli::OutputFile out(path);
  EXPECT_EQ(cli::export_rows(rows, settings, out), 0u);
  out.commit();
  return read_file(path);
}

TEST(HistoryReading, RowsWithoutADeviceAreTheBytesThroughThePlugin) {
  const ScratchFolder folder;
  const std::string history = folder.path("history.sqlite");
  write_random_history(history, 300);
  // clang-format off
  const cli::ExportSettings formats[] = {
      {ExportFormat::csv,           true,  false},
      {ExportFormat::jsonl,         false, false},
      {ExportFormat::jsonl_compact, false, true},
  };
  // clang-format on
  for (const cli::ExportSettings& settings : formats) {
    const std::string through_cells =
        exported(reading(history), Decoding::checked, settings, folder.path("cells"));
    const std::string through_plugin =
        exported(reading(history), Decoding::plugin, settings, folder.path("plugin"));
    EXPECT_GT(through_cells.size(), 300u * 2000);
    EXPECT_TRUE(through_cells == through_plugin)
        << "format " << static_cast<int>(settings.format) << ": first difference at byte "
        << std::mismatch(through_cells.begin(), through_cells.end(), through_plugin.begin(),
                         through_plugin.end())
                   .first -
               through_cells.begin();
  }
}

// The plug-in's decoding of a record with one thing changed.
struct Changed {
  const char* leaf;  // a path of the document, or null: the alarm points
  Json::Value value;
  const char* says;
};

TEST(HistoryReading, AnyDifferenceFromThePluginIsFound) {
  cli::RecordDecoder decoder(VELMOCAIR_PLUGIN_PATH);
  status::RecordCells cells;
  const cli::PluginDecoder plugin = cli::plugin_decoding(decoder);
  RecordBytes first{};
  first[87] = 0x3C;  // return air 6.0
  first[46] = 1;     // high temperature
  ASSERT_EQ(cli::decoding_disagreement(cells, plugin, {first}), "");
  // clang-format off
  const Changed cases[] = {
      {"室内机组状态/回风温度",            6.1,      "the first stored row: 室内机组状态/回风温度: decoded 6, the document 6.0999999999999996"},
      {"室内机组状态/AlertArray/高温报警", false,    "the first stored row: 室内机组状态/AlertArray/高温报警: decoded true, the document false"},
      {"参数设定/开/关机",                 "开机",   "the first stored row: 参数设定/开/关机: decoded \"关机\", the document \"开机\""},
      {nullptr,                            {},       "the first stored row: alarm points active: decoded #25, the plug-in none"},
  };
  // clang-format on
  for (const Changed& change : cases) {
    Json::Value document;
    const cli::PluginDecoder changed = [&](const RecordBytes& record) {
      cli::PluginDecoding decoded = plugin(record);
      if (record != first) {
        return decoded;
      }
      if (change.leaf == nullptr) {
        decoded.points.clear();
        return decoded;
      }
      document = *decoded.document;
      Json::Value* leaf = &document;
      std::string path = change.leaf;
      for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/')) {
        const std::string member = path.substr(0, slash);
        if (!leaf->isMember(member)) {
          break;
        }
        leaf = &(*leaf)[member];
        path = path.substr(slash + 1);
      }
      (*leaf)[path] = change.value;
      decoded.document = &document;
      return decoded;
    };
    EXPECT_EQ(cli::decoding_disagreement(cells, changed, {first}), change.says);
  }
}

struct IsoCase {
  const char* zone;
  bool utc;
  const char* stored;
  const char* iso;
};

TEST(HistoryReading, TimesAreIso8601WithTheirOffset) {
  // clang-format off
  const IsoCase cases[] = {
      {"Europe/Berlin",       false, "2024-03-01 10:00:00", "2024-03-01T10:00:00+01:00"},
      {"Europe/Berlin",       false, "2024-07-01 10:00:00", "2024-07-01T10:00:00+02:00"},
      {"Europe/Berlin",       false, "2024-03-31 01:59:59", "2024-03-31T01:59:59+01:00"},
      {"Europe/Berlin",       false, "2024-03-31 03:00:00", "2024-03-31T03:00:00+02:00"},
      {"Europe/Berlin",       true,  "2024-01-01 00:30:00", "2023-12-31T23:30:00Z"},
      {"Europe/Berlin",       true,  "2024-07-01 10:00:05", "2024-07-01T08:00:05Z"},
      {"America/St_Johns",    false, "2024-01-15 08:00:00", "2024-01-15T08:00:00-03:30"},
      {"America/St_Johns",    true,  "2024-02-28 22:00:00", "2024-02-29T01:30:00Z"},
      {"UTC",                 false, "1999-12-31 23:59:59", "1999-12-31T23:59:59+00:00"},
      {"UTC",                 true,  "0024-03-31 01:30:01", "0024-03-31T01:30:01Z"},
      {"UTC",                 false, "2024-3-1 1:2:3",      "2024-3-1 1:2:3"},
  };
  // clang-format on
  const char* kept = std::getenv("TZ");
  const std::string before = kept != nullptr ? kept : "";
  for (const IsoCase& test : cases) {
    setenv("TZ", test.zone, 1);
    tzset();
    cli::IsoTimes times(test.utc);
    EXPECT_EQ(times.text(test.stored), test.iso) << test.zone << " " << test.stored;
  }
  if (kept != nullptr) {
    setenv("TZ", before.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(HistoryReading, OutputIntoAFifoIsWrittenInPlace) {
  const ScratchFolder folder;
  const std::string fifo = folder.path("rows.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_file(fifo); });
  {
    cli::OutputFile out(fifo);
    out.write("first,");
    out.write("second\n");
    out.commit();
  }
  reader.join();
  EXPECT_EQ(received, "first,second\n");
  struct stat status {};
  ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode)) << "the FIFO stays a FIFO";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path("")),
                          std::filesystem::directory_iterator()),
            1)
      << "no temporary file beside it";
}

TEST(HistoryReading, AReaderGoneEndsTheWriting) {
  const ScratchFolder folder;
  const std::string fifo = folder.path("rows.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);
  std::thread reader([&] { close(open(fifo.c_str(), O_RDONLY)); });
  cli::OutputFile out(fifo);
  reader.join();
  EXPECT_THROW(out.write(std::string(1 << 20, 'x')), cli::OutputClosed);
}

TEST(HistoryReading, RegularFilesAreReplacedWholeOrNotAtAll) {
  const ScratchFolder folder;
  const std::string path = folder.path("rows.csv");
  write_file(path, "old");
  {
    cli::OutputFile out(path);
    out.write("new");
  }
  EXPECT_EQ(read_file(path), "old") << "without a commit the file stays as it was";
  {
    cli::OutputFile out(path);
    out.write("new");
    out.commit();
  }
  EXPECT_EQ(read_file(path), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path("")),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(HistoryReading, SigintStopsAnExportAndLeavesNoFile) {
  const ScratchFolder folder;
  const std::string history = folder.path("history.sqlite");
  write_random_history(history, 10);
  const std::string path = folder.path("rows.csv");
  EXPECT_EXIT(
      {
        cli::install_signal_handlers();
        int status = 0;
        try {
          cli::StoredRows rows(reading(history));
          cli::OutputFile out(path);
          std::raise(SIGINT);
          cli::export_rows(rows, {}, out);
          out.commit();
        } catch (const cli::Interrupted&) {
          status = cli::kExitInterrupted;
        }
        std::exit(status);
      },
      ::testing::ExitedWithCode(cli::kExitInterrupted), "");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path("")),
                          std::filesystem::directory_iterator()),
            1)
      << "the history alone";
}

}  // namespace
}  // namespace velmocair::testing
