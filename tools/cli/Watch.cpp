#include "Watch.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <chrono>
#include <map>

#include "DriverCalls.h"
#include "LiveTable.h"
#include "Signals.h"

namespace quorlan::cli {

namespace {

constexpr std::chrono::milliseconds kWatchInterval{250};

TableRow PollRow(Session& session, int c, int d, int mode) {
  try {
    return {.reading = PollDispenser(session, c, d, mode), .limit = session.LastLimit(c, d)};
  } catch (const OperationError& error) {
    return {.reading = {.channel = c, .dispenser = d, .state = error.condition}, .read = false};
  }
}

// UTC with milliseconds: 2026-12-07T11:49:07.123Z
std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return fmt::format("{:%Y-%m-%dT%H:%M:%S}.{:03}Z", std::chrono::floor<std::chrono::seconds>(now),
                     millis);
}

nlohmann::json RowJson(const TableRow& row) {
  auto object = row.read ? ReadingJson(row.reading)
                         : nlohmann::json{{"channel", row.reading.channel},
                                          {"dispenser", row.reading.dispenser},
                                          {"state", row.reading.state}};
  if (row.read && row.limit.kind != Limit::Kind::None) {
    object["preset"] = {
        {row.limit.kind == Limit::Kind::Volume ? "volume" : "amount", Decimal(row.limit.value)}};
  }
  return object;
}

// Each row whose content changed since it was last printed, stamped.
class JsonStream {
 public:
  void Show(const std::vector<TableRow>& rows) {
    for (const auto& row : rows) {
      auto object = RowJson(row);
      auto& last = shown_[{row.reading.channel, row.reading.dispenser}];
      if (object == last) continue;
      last = object;
      object["time"] = Timestamp();
      PrintJson(object);
    }
  }

 private:
  std::map<std::pair<int, int>, nlohmann::json> shown_;
};

}  // namespace

void RunWatch(Session& session, const WatchArgs& args) {
  std::vector<int> channels = args.channels;
  if (channels.empty()) channels.assign(session.Channels().begin(), session.Channels().end());
  for (int c : channels) session.RequireChannel(c);
  StopSignalScope signals;
  LiveTable table(stdout, StyleFor(stdout));
  JsonStream json;
  while (!StopRequested()) {
    std::vector<TableRow> rows;
    for (int c : channels) {
      for (int d : args.dispensers) rows.push_back(PollRow(session, c, d, args.mode));
    }
    if (args.json) {
      json.Show(rows);
    } else {
      table.Show(rows);
    }
    SleepUnlessStopped(kWatchInterval);
  }
}

}  // namespace quorlan::cli
