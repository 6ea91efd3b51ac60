#pragma once

#include <stdexcept>

namespace velmocair::cli {

// Exit statuses of velmocair-host.
// clang-format off
inline constexpr int kExitOk      = 0;  // every cycle completed; command confirmed; record decoded
inline constexpr int kExitFailed  = 1;  // a cycle failed, a command was not confirmed, nothing to decode,
                                        // or the plug-in, history or trace could not be used
inline constexpr int kExitUsage   = 2;  // bad option or site file, configuration refused
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

}  // namespace velmocair::cli
