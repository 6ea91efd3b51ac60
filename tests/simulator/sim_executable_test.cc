// velmocair-sim as a program: --help, its listening lines, signals and exit
// statuses. Every process is started and reaped here, with a bound on time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/simulator/sim_master.h"

extern char** environ;

namespace velmocair::sim {
namespace {

using namespace std::chrono_literals;
using Arguments = std::vector<std::string>;

constexpr auto kBound = 10s;

// A child process with its standard output and error on pipes; killed and
// reaped by the destructor if still running.
class Process {
 public:
  explicit Process(const Arguments& arguments) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(VELMOCAIR_SIM_PATH)};
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, VELMOCAIR_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " VELMOCAIR_SIM_PATH);
    }
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The next line of standard output without its newline; "" at the end or
  // after kBound.
  std::string read_line() { return read_until(out_, true); }
  // Everything the process writes on standard error until it closes it.
  std::string read_errors() { return read_until(err_, false); }
  std::string read_output() { return read_until(out_, false); }

  void signal(int number) const { ::kill(pid_, number); }

  // The exit status, or -1 when the process has not ended within kBound.
  int wait() {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

 private:
  std::string read_until(int fd, bool one_line) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) {
        continue;
      }
      char c = 0;
      if (::read(fd, &c, 1) != 1) {
        break;
      }
      if (one_line && c == '\n') {
        break;
      }
      text += c;
    }
    return text;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

// What follows `prefix` in `line`, or "<line>" when the line does not start so.
std::string after(const std::string& line, const std::string& prefix) {
  return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : "<" + line + ">";
}

TEST(SimExecutable, HelpNamesEveryOptionAndExitsZero) {
  Process process({"--help"});
  const std::string text = process.read_output();
  EXPECT_EQ(process.wait(), 0);
  EXPECT_EQ(text.rfind("usage: velmocair-sim", 0), 0u) << text;
  for (const char* option : {"--tcp", "--rtu", "--unit-id", "--scenario", "--fault", "--seed",
                             "--mark-generations", "--pace-baud", "--help"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }
}

TEST(SimExecutable, ListensAsItSaysAndEndsCleanlyOnSignals) {
  for (const int signal : {SIGTERM, SIGINT}) {
    Process process({"--tcp", "127.0.0.1:0", "--rtu", "--unit-id", "4"});
    const std::string tcp = after(process.read_line(), "listening tcp 127.0.0.1:");
    const std::string rtu = after(process.read_line(), "listening rtu ");
    ASSERT_TRUE(!tcp.empty() && tcp.find_first_not_of("0123456789") == std::string::npos) << tcp;
    ASSERT_EQ(rtu.rfind("/dev/pts/", 0), 0u) << rtu;
    {
      testing::Master over_tcp(Transport::tcp, tcp, 4);
      testing::Master over_rtu(Transport::rtu, rtu, 4);
      EXPECT_EQ(over_tcp.read_coils(8001, 32).rc, 32);
      EXPECT_EQ(over_rtu.read_registers(3501, 14).rc, 14);
    }
    process.signal(signal);
    EXPECT_EQ(process.wait(), 0) << "signal " << signal;
    EXPECT_EQ(process.read_errors(), "");
  }
}

TEST(SimExecutable, BadOptionsExitTwoAndCannotStartExitsOne) {
  struct Row {
    Arguments arguments;
    int status;
  };
  // clang-format off
  const Row rows[] = {
      {{"--bogus"},                           2},
      {{"--tcp", "99999"},                    2},
      {{"--unit-id"},                         2},
      {{"--fault", "delay"},                  2},
      {{"--scenario", "/nonexistent.json"},   1},
  };
  // clang-format on
  for (const Row& row : rows) {
    Process process(row.arguments);
    const std::string errors = process.read_errors();
    EXPECT_EQ(process.wait(), row.status) << row.arguments[0];
    EXPECT_EQ(errors.rfind("velmocair-sim: ", 0), 0u) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
    EXPECT_EQ(process.read_output(), "") << row.arguments[0];
  }
}

}  // namespace
}  // namespace velmocair::sim
