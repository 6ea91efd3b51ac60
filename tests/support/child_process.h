#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace velmocair::testing {

// Where a program a test starts runs: one built here (velmocair-host,
// velmocair-sim) runs on the build's target, through the launcher; one of
// the machine (/usr/bin/python3) runs directly.
enum class Runs : unsigned char { on_target, on_machine };

// The command that runs a program built here: the emulator of a cross build
// (qemu-arm -L / for armhf), empty for a native build.
const std::vector<std::string>& launcher();
// True when the programs built here run under an emulator.
bool under_emulation();

// A process a test starts and stops itself, by its own id: standard output
// and error go to files, standard input is /dev/null. A process still
// running when the object goes is killed. `argv[0]` is a path, or a name
// looked up on PATH.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::string& out_path,
               const std::string& err_path, Runs runs = Runs::on_target);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the exit; past `limit` the process is killed. Returns the exit
  // status, or -1 when it was killed or ended by a signal.
  int wait(std::chrono::milliseconds limit);
  // SIGTERM, then SIGKILL if it has not ended within `grace`.
  void terminate(std::chrono::milliseconds grace);
  // Sends `number` to the process while it runs.
  void signal(int number) const;
  // True once the process has ended (it is then reaped).
  bool ended();
  bool running() const { return pid_ > 0; }
  // The process id while it runs, for limits a test sets on it (prlimit).
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

// The first whole line of the file at `path` that starts with `prefix`,
// once `process` has written it there; "" when the process ends or `limit`
// passes first.
std::string wait_for_line(ChildProcess& process, const std::string& path, const std::string& prefix,
                          std::chrono::milliseconds limit);

// A loopback TCP port nobody listens on (free a moment ago).
int closed_tcp_port();

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
std::vector<std::string> lines_of(const std::string& text);

}  // namespace velmocair::testing
