#pragma once
// What the quorlan command's exit status means (docs/cli.md lists them).

#include <stdexcept>

namespace quorlan::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitOperationFailed = 1,  // the driver raised: exchange failed or value out of range
  kExitUsage = 2,            // bad command line
  kExitLineSetup = 3,        // a port or the simulator's pseudo-terminal could not be set up
  kExitInternal = 4,         // anything unexpected
  kExitInterrupted = 130,    // Ctrl-C or SIGTERM ended the demo
};

// Each carries the one line the user sees.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct LineSetupError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct OperationError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace quorlan::cli
