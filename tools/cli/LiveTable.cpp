#include "LiveTable.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>

#include "StateNames.h"

namespace quorlan::cli {

namespace {
constexpr int kBarWidth = 20;
constexpr const char* kCursorUp = "\x1b[{}A";
constexpr const char* kClearLine = "\x1b[2K";
}  // namespace

bool IsTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) != 0;
}

std::string LiveTable::Header() {
  return fmt::format("{:>4}  {:>4}  {:<10}  {:>6}  {:>9}  {:>10}  {}", "disp", "code", "state",
                     "nozzle", "volume", "amount", "preset");
}

std::string LiveTable::ProgressBar(double fraction) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int filled = static_cast<int>(fraction * kBarWidth + 0.5);
  return fmt::format("[{}{}] {:3.0f}%", std::string(static_cast<std::size_t>(filled), '#'),
                     std::string(static_cast<std::size_t>(kBarWidth - filled), '-'),
                     fraction * 100);
}

std::string LiveTable::Row(const TableRow& row) {
  const auto& r = row.reading;
  return fmt::format("{:>4}  {:>4}  {:<10}  {:>6}  {:>9.2f}  {:>10.2f}  {}", r.dispenser,
                     fmt::format("{:02X}", r.state), StateName(r.state), NozzleOf(r.state),
                     r.volume, r.amount, row.progress ? ProgressBar(*row.progress) : "");
}

void LiveTable::Show(const std::vector<TableRow>& rows) {
  if (redraw_) {
    if (drawnLines_ > 0) fmt::print(out_, kCursorUp, drawnLines_);
    fmt::print(out_, "{}{}\n", kClearLine, Header());
    for (const auto& row : rows) fmt::print(out_, "{}{}\n", kClearLine, Row(row));
    drawnLines_ = static_cast<int>(rows.size()) + 1;
  } else {
    if (shownStates_.empty()) fmt::print(out_, "{}\n", Header());
    for (const auto& row : rows) {
      const auto shown = shownStates_.find(row.reading.dispenser);
      if (shown != shownStates_.end() && shown->second == row.reading.state) continue;
      shownStates_[row.reading.dispenser] = row.reading.state;
      fmt::print(out_, "{}\n", Row(row));
    }
  }
  std::fflush(out_);
}

}  // namespace quorlan::cli
