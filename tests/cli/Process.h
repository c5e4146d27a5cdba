#pragma once
// Runs the built quorlan command as a user would, with pipes on its standard
// streams.

#include <string>
#include <vector>

namespace quorlan::testing {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class Process {
 public:
  explicit Process(const std::vector<std::string>& args);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  void Write(const std::string& text);
  void CloseInput();
  // One line of standard output, without its end; empty at the end.
  std::string ReadLine();
  void Signal(int signal);
  // Closes the input, collects what is left of both outputs, and waits.
  ProcessResult Finish();

 private:
  int pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outBuffer_;
};

// The command with these arguments and this input, to its end.
ProcessResult RunQuorlan(const std::vector<std::string>& args, const std::string& input = "");

}  // namespace quorlan::testing
