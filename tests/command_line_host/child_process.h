#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace velmocair::testing {

// A process a test starts and stops itself, by its own id: standard output
// and error go to files, standard input is /dev/null. A process still
// running when the object goes is killed.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::string& out_path,
               const std::string& err_path);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the exit; past `limit` the process is killed. Returns the exit
  // status, or -1 when it was killed or ended by a signal.
  int wait(std::chrono::milliseconds limit);
  // SIGTERM, then SIGKILL if it has not ended within `grace`.
  void terminate(std::chrono::milliseconds grace);
  // True once the process has ended (it is then reaped).
  bool ended();
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A fresh folder under /tmp, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string path(const std::string& name) const { return folder_ + "/" + name; }

 private:
  std::string folder_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
std::vector<std::string> lines_of(const std::string& text);

}  // namespace velmocair::testing
