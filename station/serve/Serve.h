#pragma once
// `quorlan serve`: the station service as a command of the quorlan tool.

#include <CLI/CLI.hpp>
#include <string>

namespace quorlan::station {

struct ServeArgs {
  std::string config;  // empty: the embedded default
  std::string listen;  // overrides the file's
  std::string database;
  bool check = false;  // report every configuration problem, open nothing
};

// Runs until SIGINT or SIGTERM; returns the exit code (0 after a clean
// stop, 2 for a configuration error or a database another service holds,
// 1 for an address another holds or any other failed start). With `check` it only reads the
// configuration: 0 when it is sound, else 2 and every problem on stderr.
int RunServe(const ServeArgs& args);

// Registers the command on the tool; after parsing, Parsed() tells whether
// it was chosen.
class ServeCommand {
 public:
  explicit ServeCommand(CLI::App& app);
  bool Parsed() const { return command_->parsed(); }
  int Run() const { return RunServe(args_); }

 private:
  ServeArgs args_;
  CLI::App* command_;
};

}  // namespace quorlan::station
