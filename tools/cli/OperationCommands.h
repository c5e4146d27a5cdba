#pragma once
// The dispenser commands shared by one-shot runs and the shell: status,
// watch, price, preset, authorize, stop, transaction, totals.

#include <CLI/CLI.hpp>
#include <optional>
#include <vector>

#include "Session.h"

namespace quorlan::cli {

enum class Operation { Status, Watch, Price, Preset, Authorize, Stop, Transaction, Totals };

struct OperationArgs {
  int channel = 1;
  int dispenser = 1;
  std::vector<int> dispensers{1};  // watch
  int grade = 1;
  int nozzle = 1;
  int mode = 1;  // the host's nozzle mode: 0 leaves the second address alone
  std::optional<double> price;
  std::optional<double> volume;
  std::optional<double> amount;
  bool json = false;
};

// Adds the commands to `app`; after parsing, `chosen` names the one given.
void AddOperationCommands(CLI::App& app, OperationArgs& args, std::optional<Operation>& chosen);
void RunOperation(Session& session, Operation operation, const OperationArgs& args);

}  // namespace quorlan::cli
