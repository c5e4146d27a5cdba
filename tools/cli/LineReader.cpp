#include "LineReader.h"

#include <editline/readline.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace quorlan::cli {

namespace {
constexpr int kHistoryLines = 500;
}  // namespace

LineReader::LineReader() : interactive_(::isatty(STDIN_FILENO) != 0) {
  if (!interactive_) return;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') historyPath_ = std::string(home) + "/.quorlan_history";
  using_history();
  stifle_history(kHistoryLines);
  if (!historyPath_.empty()) read_history(historyPath_.c_str());
}

LineReader::~LineReader() {
  if (interactive_ && !historyPath_.empty()) write_history(historyPath_.c_str());
}

std::optional<std::string> LineReader::Next(const char* prompt) {
  if (!interactive_) {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  }
  char* typed = readline(prompt);
  if (typed == nullptr) return std::nullopt;
  std::string line(typed);
  std::free(typed);
  if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
  return line;
}

}  // namespace quorlan::cli
