#pragma once
// What the quorlan command's exit status means (docs/cli.md lists them).

#include <stdexcept>
#include <string>
#include <utility>

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
// `condition` is the few words a watch row shows for it: "no reply",
// "bad reply", "line down", "refused".
struct OperationError : std::runtime_error {
  explicit OperationError(const std::string& what, std::string condition = "failed")
      : std::runtime_error(what), condition(std::move(condition)) {}
  std::string condition;
};

}  // namespace quorlan::cli
