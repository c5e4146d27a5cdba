#include "LiveTable.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quorlan::cli {

namespace {
constexpr int kBarWidth = 20;
constexpr const char* kCursorUp = "\x1b[{}A";
constexpr const char* kClearLine = "\x1b[2K";
constexpr const char* kReset = "\x1b[0m";

const char* ColorOf(const TableRow& row) {
  const auto& state = row.reading.state;
  if (!row.read) return "\x1b[31m";  // red: no reading
  if (state == "filling") return "\x1b[32m";
  if (state == "authorized") return "\x1b[36m";
  if (state == "no prices" || state == "stopped" || state == "unknown") return "\x1b[33m";
  return nullptr;
}

bool Unset(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || *value == '\0';
}
}  // namespace

TableStyle StyleFor(std::FILE* stream) {
  const char* term = std::getenv("TERM");
  const bool redraw =
      ::isatty(::fileno(stream)) != 0 && term != nullptr && std::strcmp(term, "dumb") != 0;
  return {.redraw = redraw, .color = redraw && Unset("NO_COLOR")};
}

std::string LiveTable::Header() {
  return fmt::format("{:>4}  {:>4}  {:<10}  {:>6}  {:>9}  {:>10}  {}", "chan", "disp", "state",
                     "nozzle", "volume", "amount", "preset");
}

std::string LiveTable::ProgressBar(double fraction) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int filled = static_cast<int>(fraction * kBarWidth + 0.5);
  return fmt::format("[{}{}] {:3.0f}%", std::string(static_cast<std::size_t>(filled), '#'),
                     std::string(static_cast<std::size_t>(kBarWidth - filled), '-'),
                     fraction * 100);
}

std::string LiveTable::Row(const TableRow& row) const {
  const auto& r = row.reading;
  auto state = fmt::format("{:<10}", r.state);
  const char* color = style_.color ? ColorOf(row) : nullptr;
  if (color != nullptr) state = color + state + kReset;
  if (!row.read) return fmt::format("{:>4}  {:>4}  {}", r.channel, r.dispenser, state);
  std::string preset;
  if (row.limit.kind != Limit::Kind::None) {
    const bool volume = row.limit.kind == Limit::Kind::Volume;
    preset = fmt::format("{} {:.2f} {}", volume ? "volume" : "amount", row.limit.value,
                         ProgressBar((volume ? r.volume : r.amount) / row.limit.value));
  }
  return fmt::format("{:>4}  {:>4}  {}  {:>6}  {:>9.2f}  {:>10.2f}  {}", r.channel, r.dispenser,
                     state, r.nozzle > 0 ? std::to_string(r.nozzle) : "-", r.volume, r.amount,
                     preset);
}

void LiveTable::Show(const std::vector<TableRow>& rows) {
  if (style_.redraw) {
    if (drawnLines_ > 0) fmt::print(out_, kCursorUp, drawnLines_);
    fmt::print(out_, "{}{}\n", kClearLine, Header());
    for (const auto& row : rows) fmt::print(out_, "{}{}\n", kClearLine, Row(row));
    drawnLines_ = static_cast<int>(rows.size()) + 1;
  } else {
    if (!headerShown_) fmt::print(out_, "{}\n", Header());
    headerShown_ = true;
    for (const auto& row : rows) {
      const auto key = std::pair{row.reading.channel, row.reading.dispenser};
      const auto shown = std::pair{row.reading.state, row.reading.nozzle};
      const auto before = shownStates_.find(key);
      if (before != shownStates_.end() && before->second == shown) continue;
      shownStates_[key] = shown;
      fmt::print(out_, "{}\n", Row(row));
    }
  }
  std::fflush(out_);
}

}  // namespace quorlan::cli
