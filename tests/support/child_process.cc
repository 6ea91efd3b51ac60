#include "tests/support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velmocair::testing {
namespace {

constexpr std::chrono::milliseconds kPollEvery{10};

// The launcher's words, separated by spaces.
std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) {
    words.push_back(word);
  }
  return words;
}

}  // namespace

const std::vector<std::string>& launcher() {
  static const std::vector<std::string> words = words_of(VELMOCAIR_LAUNCHER);
  return words;
}

bool under_emulation() { return !launcher().empty(); }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& out_path,
                           const std::string& err_path, Runs runs) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  if (runs == Runs::on_target) {
    for (const std::string& word : launcher()) {
      args.push_back(const_cast<char*>(word.c_str()));
    }
  }
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  const int failed = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

ChildProcess::~ChildProcess() {
  if (running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

int ChildProcess::wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(kPollEvery);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProcess::ended() {
  if (running() && waitpid(pid_, nullptr, WNOHANG) == pid_) {
    pid_ = -1;
  }
  return !running();
}

void ChildProcess::terminate(std::chrono::milliseconds grace) {
  if (running()) {
    kill(pid_, SIGTERM);
    wait(grace);
  }
}

void ChildProcess::signal(int number) const {
  if (running()) {
    kill(pid_, number);
  }
}

ScratchFolder::ScratchFolder() {
  char pattern[] = "/tmp/velmocair-host-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    throw std::runtime_error("cannot make a scratch folder");
  }
  folder_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string wait_for_line(ChildProcess& process, const std::string& path, const std::string& prefix,
                          std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    // The process may end right after writing the line: look once more then.
    const bool ended = process.ended();
    const std::string text = read_file(path);
    // Whole lines only: up to the last newline written so far.
    for (const std::string& line : lines_of(text.substr(0, text.rfind('\n') + 1))) {
      if (line.rfind(prefix, 0) == 0) {
        return line;
      }
    }
    if (ended || std::chrono::steady_clock::now() >= deadline) {
      return {};
    }
    std::this_thread::sleep_for(kPollEvery);
  }
}

int closed_tcp_port() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  close(probe);
  return ntohs(address.sin_port);
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace velmocair::testing
