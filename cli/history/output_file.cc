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

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
  if (path.empty()) {
    fd_ = STDOUT_FILENO;
    return;
  }
  std::string pattern = folder_of(path) + "/." + name_of(path) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = mkstemp(name.data());
  if (fd_ < 0) {
    throw RunError("cannot write " + path + ": " + std::strerror(errno));
  }
  temporary_ = name.data();
  // mkstemp makes the file private; the result is an ordinary file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, kFileMode & ~mask);
}

OutputFile::~OutputFile() {
  if (!temporary_.empty()) {
    close(fd_);
    unlink(temporary_.c_str());
  }
}

void OutputFile::write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      throw RunError("cannot write " + (path_.empty() ? std::string("standard output") : path_) +
                     ": " + std::strerror(errno));
    }
    done += static_cast<std::size_t>(wrote);
  }
}

void OutputFile::commit() {
  if (temporary_.empty()) {
    return;
  }
  const int closed = close(fd_);
  if (closed != 0 || std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    unlink(temporary_.c_str());
    temporary_.clear();
    throw RunError("cannot write " + path_ + ": " + reason);
  }
  temporary_.clear();
}

}  // namespace velmocair::cli
