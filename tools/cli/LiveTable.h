#pragma once
// The live table of dispensers shown by watch and demo. On a terminal it is
// redrawn in place; into a pipe or file it prints plain lines, a row only
// when that dispenser's state code changes.

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Report.h"

namespace quorlan::cli {

struct TableRow {
  DispenserReading reading;
  std::optional<double> progress;  // 0..1 toward the preset, when there is one
};

class LiveTable {
 public:
  LiveTable(std::FILE* out, bool redraw) : out_(out), redraw_(redraw) {}
  void Show(const std::vector<TableRow>& rows);

  static std::string Header();
  static std::string Row(const TableRow& row);
  static std::string ProgressBar(double fraction);

 private:
  std::FILE* out_;
  bool redraw_;
  int drawnLines_ = 0;
  std::map<int, std::uint8_t> shownStates_;
};

// True when the stream is a terminal that understands cursor control.
bool IsTerminal(std::FILE* stream);

}  // namespace quorlan::cli
