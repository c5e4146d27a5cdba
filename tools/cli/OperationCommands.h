#pragma once
// The dispenser commands shared by one-shot runs and the shell: status,
// watch, price, preset, authorize, stop, transaction, totals.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Session.h"

namespace quorlan::cli {

enum class Operation { Status, Watch, Price, Preset, Authorize, Stop, Transaction, Totals };

struct OperationArgs {
  int channel = 1;
  std::vector<int> channels;  // watch; none: every channel of the session
  int dispenser = 1;
  std::vector<int> dispensers{1};  // watch
  std::optional<int> grade;        // default 1
  int nozzle = 1;
  int mode = 1;  // the host's nozzle mode: 0 leaves the second address alone
  // Numbers as typed; checked as plain decimals before anything is sent.
  std::optional<std::string> price;
  std::optional<std::string> prices;
  std::optional<std::string> volume;
  std::optional<std::string> amount;
  bool json = false;
};

// Adds the commands to `app`; after parsing, `chosen` names the one given.
void AddOperationCommands(CLI::App& app, OperationArgs& args, std::optional<Operation>& chosen);
void RunOperation(Session& session, Operation operation, const OperationArgs& args);

}  // namespace quorlan::cli
