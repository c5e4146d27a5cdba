#pragma once
// The live table of dispensers shown by watch and demo. On a terminal it is
// redrawn in place; into a pipe or a file, or with TERM=dumb, it prints
// plain lines, a row only when that dispenser's state changes. Colour only
// on a terminal and without NO_COLOR.

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Report.h"
#include "quorlan/Driver.h"

namespace quorlan::cli {

struct TableRow {
  DispenserReading reading{};  // a row without a reading shows why in its state
  bool read = true;
  Limit limit{};  // the active limit, shown with the progress toward it
};

struct TableStyle {
  bool redraw = false;
  bool color = false;
};

// What the stream and the environment (TERM, NO_COLOR) allow.
TableStyle StyleFor(std::FILE* stream);

class LiveTable {
 public:
  LiveTable(std::FILE* out, TableStyle style) : out_(out), style_(style) {}
  void Show(const std::vector<TableRow>& rows);

  static std::string Header();
  std::string Row(const TableRow& row) const;
  static std::string ProgressBar(double fraction);

 private:
  std::FILE* out_;
  TableStyle style_;
  int drawnLines_ = 0;
  bool headerShown_ = false;
  std::map<std::pair<int, int>, std::pair<std::string, int>> shownStates_;
};

}  // namespace quorlan::cli
