#include "cli/history/output_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/options/exit_status.h"

namespace velmocair::cli {
namespace {

constexpr mode_t kFileMode = 0644;

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when the path names something other than a regular file (what it
// names, without following a symbolic link), which is written in place.
bool written_in_place(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

[[noreturn]] void cannot_write(const std::string& path) {
  throw RunError("cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
  if (path.empty()) {
    fd_ = STDOUT_FILENO;
    return;
  }
  if (written_in_place(path)) {
    struct stat target {};
    struct stat standard_output {};
    const bool known = stat(path.c_str(), &target) == 0;
    if (known && S_ISDIR(target.st_mode)) {
      throw RunError("cannot write " + path + ": it is a folder");
    }
    // /dev/stdout and the like: standard output as it is, appending where
    // it appends.
    if (known && fstat(STDOUT_FILENO, &standard_output) == 0 &&
        target.st_dev == standard_output.st_dev && target.st_ino == standard_output.st_ino) {
      fd_ = STDOUT_FILENO;
      return;
    }
    owned_ = true;
    // A symbolic link to a regular file is written through, from its start.
    fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC | (S_ISREG(target.st_mode) ? O_TRUNC : 0));
    if (fd_ < 0) {
      cannot_write(path);
    }
    return;
  }
  owned_ = true;
  std::string pattern = folder_of(path) + "/." + name_of(path) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = mkstemp(name.data());
  if (fd_ < 0) {
    cannot_write(path);
  }
  temporary_ = name.data();
  // mkstemp makes the file private; the result is an ordinary file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, kFileMode & ~mask);
}

OutputFile::~OutputFile() {
  if (owned_ && fd_ >= 0) {
    close(fd_);
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
  }
}

void OutputFile::write(std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote < 0 && errno == EPIPE) {
      throw OutputClosed();
    }
    if (wrote <= 0) {
      cannot_write(path_.empty() ? std::string("standard output") : path_);
    }
    done += static_cast<std::size_t>(wrote);
  }
}

void OutputFile::commit() {
  if (!owned_) {
    return;
  }
  const int closed = close(fd_);
  fd_ = -1;
  if (closed != 0 || (!temporary_.empty() && std::rename(temporary_.c_str(), path_.c_str()) != 0)) {
    cannot_write(path_);
  }
  temporary_.clear();
}

}  // namespace velmocair::cli
