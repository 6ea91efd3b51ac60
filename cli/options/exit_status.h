#pragma once

#include <stdexcept>

namespace velmocair::cli {

// Exit statuses of velmocair-host.
// clang-format off
inline constexpr int kExitOk      = 0;  // every cycle completed; command confirmed; record decoded
inline constexpr int kExitFailed  = 1;  // a cycle failed, a command was not confirmed, nothing to decode,
                                        // or the plug-in, history or trace could not be used
inline constexpr int kExitUsage   = 2;  // bad option or site file, configuration refused
inline constexpr int kExitInterrupted  = 130;  // a reading command stopped by SIGINT or SIGTERM (128 + 2)
inline constexpr int kExitOutputClosed = 141;  // the reader of its output went away (128 + SIGPIPE's 13)
// clang-format on

// A bad option, site file or unit configuration: one line, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The host could not run (plug-in, history, trace): one line, exit status 1.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A reading command stopped by SIGINT or SIGTERM: no line, exit status 130.
class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted") {}
};

// The reading end of the output's pipe has gone (`export | head`): no line,
// exit status 141, as a program that SIGPIPE ends.
class OutputClosed : public std::runtime_error {
 public:
  OutputClosed() : std::runtime_error("output closed") {}
};

}  // namespace velmocair::cli
