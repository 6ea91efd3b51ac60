#pragma once

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <string>

struct sqlite3;

namespace sitehost {

// How long a connection waits while another holds the file locked.
inline constexpr int kHistoryBusyTimeoutMs = 5000;
// Connections a read tries while a host keeps changing a file read as
// immutable: the second normally sees the host's log and needs no other.
inline constexpr int kMostHistoryReadConnections = 4;

// A read-only SQLite connection to a history file that changes nothing on
// disk and knows whether what it read can be trusted.
//
// A file with a write-ahead log beside it (a host has it open, or crashed)
// is read through the log and its shared memory, as they are, never
// checkpointing; a host writing meanwhile is harmless, and a reader waits
// while the host holds a lock. A file without a log is read as immutable,
// so that SQLite creates no -wal or -shm file next to it; but then SQLite
// takes no lock, and a host that starts writing the file may change pages
// under the reader. sound() tells whether that has happened: a reader
// checks it after reading and, when it has not held, reads again through a
// new connection (which then sees the host's log).
class HistoryReadConnection {
 public:
  // Null with `error` set when the file cannot be opened.
  static std::unique_ptr<HistoryReadConnection> open(const std::string& path, std::string& error);
  ~HistoryReadConnection();
  HistoryReadConnection(const HistoryReadConnection&) = delete;
  HistoryReadConnection& operator=(const HistoryReadConnection&) = delete;

  sqlite3* db() const { return db_; }
  bool immutable() const { return immutable_; }

  // Whether everything read so far is sound: always through the log; read
  // as immutable, while no log has appeared beside the file and the file is
  // as it was when the connection was opened.
  bool sound() const;

 private:
  // What shows that a file was changed or replaced.
  struct FileState {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    bool operator==(const FileState& other) const;
  };
  static FileState state_of(const std::string& path);

  HistoryReadConnection(sqlite3* db, std::string path, bool immutable, FileState state)
      : db_(db), path_(std::move(path)), immutable_(immutable), state_at_open_(state) {}

  sqlite3* db_;
  std::string path_;
  bool immutable_;
  FileState state_at_open_;
};

}  // namespace sitehost
