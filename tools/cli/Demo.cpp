#include "Demo.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <chrono>
#include <optional>
#include <vector>

#include "Arguments.h"
#include "DriverCalls.h"
#include "LiveTable.h"
#include "Signals.h"

namespace quorlan::cli {

namespace {

constexpr int kChannel = 1;
constexpr int kGrade = 1;
constexpr PriceTable kPrices{52.90, 54.10, 61.00, 48.75};
constexpr int kMode = 1;  // read the lifted nozzle and release finished fills
constexpr std::chrono::milliseconds kPollInterval{100};
// A fill that has not finished by then means something is broken.
constexpr std::chrono::seconds kGiveUpAfter{30};

// Fast enough to finish in a few seconds, slow enough to watch.
constexpr EmbeddedSimOptions kDemoLine{.dispensers = 2, .flowRate = 4.0, .autoNozzle = true};

struct DemoFill {
  int dispenser = 1;
  Limit limit{};
  // Totals of nozzle 1 before the demo, in hundredths as the counters count.
  sim::NozzleTotals totalsBefore{};

  DispenserReading last{};
  int nozzle = 1;
  bool finished = false;
};

void Announce(Session& session, std::vector<DemoFill>& fills) {
  fmt::print("Quorlan demo: {} dispensers on the embedded simulator, channel {}\n", fills.size(),
             kChannel);
  for (auto& fill : fills) {
    session.EmbeddedLine()->SetTotals(fill.dispenser, 1, fill.totalsBefore);
    for (int g = 1; g <= int{kTableGrades}; ++g) {
      BookPrice(session, kChannel, fill.dispenser, g, kPrices[std::size_t(g - 1)]);
    }
    SendPrices(session, kChannel, fill.dispenser);
    fmt::print("dispenser {}: prices {:.2f}\n", fill.dispenser, fmt::join(kPrices, " / "));
  }
  for (auto& fill : fills) {
    AuthorizeFill(session, kChannel, fill.dispenser, kGrade, fill.limit);
    fmt::print(
        "dispenser {}: {} preset {:.2f} on grade {}, authorized; the nozzle lifts by "
        "itself\n",
        fill.dispenser, fill.limit.kind == Limit::Kind::Volume ? "volume" : "amount",
        fill.limit.value, kGrade);
  }
  std::fflush(stdout);
}

// Polls until every dispenser reported its fill finished (0xC0, released).
bool FollowFills(Session& session, std::vector<DemoFill>& fills) {
  StopSignalScope signals;
  LiveTable table(stdout, StyleFor(stdout));
  const auto giveUp = std::chrono::steady_clock::now() + kGiveUpAfter;
  for (;;) {
    bool allFinished = true;
    std::vector<TableRow> rows;
    for (auto& fill : fills) {
      if (!fill.finished) {
        fill.last = PollDispenser(session, kChannel, fill.dispenser, kMode);
        if (fill.last.state == "filling") fill.nozzle = fill.last.nozzle;
        fill.finished = fill.last.state == "finished";
      }
      allFinished = allFinished && fill.finished;
      rows.push_back({.reading = fill.last, .limit = fill.limit});
    }
    table.Show(rows);
    if (allFinished) return true;
    if (StopRequested()) return false;
    if (std::chrono::steady_clock::now() > giveUp) {
      throw OperationError(
          fmt::format("demo: the fills did not finish within {} s", kGiveUpAfter.count()));
    }
    SleepUnlessStopped(kPollInterval);
  }
}

void ShowResults(Session& session, const std::vector<DemoFill>& fills) {
  fmt::print("\nTransactions\n");
  for (const auto& fill : fills) {
    auto reading = ReadStoredTransaction(session, kChannel, fill.dispenser);
    fmt::print("dispenser {}: volume {:.2f}, amount {:.2f}\n", fill.dispenser, reading.volume,
               reading.amount);
  }
  fmt::print("\nTotals\n");
  for (const auto& fill : fills) {
    const auto totals = ReadTotals(session, kChannel, fill.dispenser, fill.nozzle);
    fmt::print(
        "dispenser {}, nozzle {}: volume total {:.2f} (was {:.2f}), amount total {:.2f} "
        "(was {:.2f})\n",
        fill.dispenser, fill.nozzle, totals.volumeTotal,
        static_cast<double>(fill.totalsBefore.volume) / 100, totals.amountTotal,
        static_cast<double>(fill.totalsBefore.amount) / 100);
  }
}

}  // namespace

int RunDemo(const GlobalOptions& options) {
  if (!options.ports.empty()) {
    throw UsageError("demo runs on the embedded simulator: leave out --port");
  }
  Session session(options, kDemoLine);
  std::vector<DemoFill> fills{
      {.dispenser = 1,
       .limit = Limit::Volume(10.0),
       .totalsBefore = {.volume = 100000, .amount = 5290000}},
      {.dispenser = 2,
       .limit = Limit::Amount(300.0),
       .totalsBefore = {.volume = 25000, .amount = 1322500}},
  };
  Announce(session, fills);
  if (!FollowFills(session, fills)) {
    fmt::print("demo stopped\n");
    return kExitInterrupted;
  }
  ShowResults(session, fills);
  return kExitOk;
}

}  // namespace quorlan::cli
