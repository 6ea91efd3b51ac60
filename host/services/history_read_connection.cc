#include "host/services/history_read_connection.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sitehost {
namespace {

constexpr const char* kLogSuffix = "-wal";

// A file URI naming `path` as immutable: SQLite then takes no lock and
// creates no file beside it.
std::string immutable_uri(const std::string& path) {
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[sizeof "%25"];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

std::unique_ptr<HistoryReadConnection> HistoryReadConnection::open(const std::string& path,
                                                                   std::string& error) {
  if (::access(path.c_str(), R_OK) != 0) {
    error = "cannot read history " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  // The file's state is taken before looking for the log: a host that
  // starts in between shows in one or the other.
  const FileState state = state_of(path);
  const bool immutable = !state_of(path + kLogSuffix).exists;
  const std::string name = immutable ? immutable_uri(path) : path;
  const int flags = SQLITE_OPEN_READONLY | (immutable ? SQLITE_OPEN_URI : 0);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = "cannot open history " + path +
            (db != nullptr ? std::string(": ") + sqlite3_errmsg(db) : "");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kHistoryBusyTimeoutMs);
  return std::unique_ptr<HistoryReadConnection>(
      new HistoryReadConnection(db, path, immutable, state));
}

HistoryReadConnection::~HistoryReadConnection() { sqlite3_close(db_); }

bool HistoryReadConnection::sound() const {
  return !immutable_ || (!state_of(path_ + kLogSuffix).exists && state_of(path_) == state_at_open_);
}

HistoryReadConnection::FileState HistoryReadConnection::state_of(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return {};
  }
  return {true, status.st_dev, status.st_ino, status.st_size, status.st_mtim};
}

bool HistoryReadConnection::FileState::operator==(const FileState& other) const {
  return exists == other.exists && device == other.device && inode == other.inode &&
         size == other.size && modified.tv_sec == other.modified.tv_sec &&
         modified.tv_nsec == other.modified.tv_nsec;
}

}  // namespace sitehost
