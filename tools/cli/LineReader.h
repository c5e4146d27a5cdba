#pragma once
// The shell's input: on a terminal, libedit's line editing with a history
// kept in ~/.quorlan_history; otherwise plain lines from standard input.

#include <optional>
#include <string>

namespace quorlan::cli {

class LineReader {
 public:
  LineReader();
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool Interactive() const { return interactive_; }
  // The next line without its end; nothing at the end of input.
  std::optional<std::string> Next(const char* prompt);

 private:
  bool interactive_;
  std::string historyPath_;
};

}  // namespace quorlan::cli
