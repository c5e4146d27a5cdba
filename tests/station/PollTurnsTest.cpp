// SPDX-License-Identifier: Apache-2.0
// A long command does not hold the line: while one dispenser fills, a shift
// close's 128 totals reads and a price change for 30 dispensers take turns
// with the polls. Counted in exchanges on the line, in their order, never in
// time: the filling dispenser keeps about every 4th turn, each idle one
// comes round within two sweeps, and the close's reads stay one set that no
// other command comes between.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "ServiceFixture.h"
#include "sim/Line.h"
#include "sim/PtyServer.h"
#include "sim/Requests.h"
#include "station/app/Station.h"

namespace quorlan::testing {
namespace {

constexpr int kDispensers = 32;
constexpr int kFilling = 7;
constexpr int kNozzles = 4;

// One request on the line.
struct Exchange {
  sim::Request kind;
  int dispenser;
};

// A turn the worker gave: a poll of a dispenser, or a command's exchanges (a
// price download is followed by its own poll of the dispenser).
struct Turn {
  bool poll;
  int dispenser;
  sim::Request kind;
};

std::vector<Turn> Turns(const std::vector<Exchange>& exchanges) {
  std::vector<Turn> turns;
  for (std::size_t i = 0; i < exchanges.size(); ++i) {
    const Exchange& e = exchanges[i];
    if (e.kind == sim::Request::SubStatus) continue;  // the poll's second half
    const bool downloaded = i > 0 && exchanges[i - 1].kind == sim::Request::PriceTable &&
                            exchanges[i - 1].dispenser == e.dispenser;
    if (e.kind == sim::Request::Status && downloaded) continue;
    turns.push_back({e.kind == sim::Request::Status, e.dispenser, e.kind});
  }
  return turns;
}

class StationOnAPty {
 public:
  StationOnAPty()
      : directory_(std::filesystem::temp_directory_path() /
                   ("quorlan-turns-" + std::to_string(::getpid()))),
        line_(std::make_shared<sim::Line>(sim::LineOptions{
            .dispensers = kDispensers, .flowRate = 0.5, .startWithoutPrices = false})),
        pty_(line_, sim::PtyOptions{}) {
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    pty_.SetTrace([this](sim::TraceDirection direction, int, std::span<const std::uint8_t> bytes) {
      if (direction != sim::TraceDirection::Request || bytes.size() < 3) return;
      const auto target = sim::DecodeAddress(bytes[0]);
      const auto kind = target ? sim::ClassifyRequest(target->second, bytes[2]) : std::nullopt;
      if (!kind) return;
      std::lock_guard lock(mutex_);
      exchanges_.push_back({*kind, target->dispenser});
    });
    pty_.Start();
    station::StationConfig config;
    config.file = "turns";
    config.database = (directory_ / "station.db").string();
    config.auditLog = (directory_ / "audit.log").string();
    station::LineConfig line;
    line.port = pty_.SlavePath();
    for (int d = 1; d <= kDispensers; ++d) line.dispensers.push_back(d);
    config.lines.push_back(line);
    station_ = std::make_unique<station::Station>(config);
    // The book before the start, as a station that ran before holds it.
    const auto book = Book(5290);
    station_->Events().PublishCommitted("prices", "[]", [&](const station::StoredEvent& event) {
      station_->Journal().prices.Save(book, event);
      return true;
    });
    station_->Start();
  }
  ~StationOnAPty() {
    station_->Events().Close();
    station_->Stop();
    station_.reset();
    pty_.Stop();
    std::filesystem::remove_all(directory_);
  }

  static std::vector<station::PriceEntry> Book(station::Cents price) {
    std::vector<station::PriceEntry> book;
    for (int d = 1; d <= kDispensers; ++d) {
      for (int g = 1; g <= 4; ++g) book.push_back({1, d, g, price});
    }
    return book;
  }

  station::Station& Station() { return *station_; }
  station::LineWorker& Worker() { return *station_->Line(1); }
  sim::Line& Line() { return *line_; }
  std::vector<Exchange> Exchanges() {
    std::lock_guard lock(mutex_);
    return exchanges_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    exchanges_.clear();
  }

 private:
  std::filesystem::path directory_;
  std::shared_ptr<sim::Line> line_;
  sim::PtyServer pty_;
  std::mutex mutex_;
  std::vector<Exchange> exchanges_;
  std::unique_ptr<station::Station> station_;
};

struct LongCommand {
  const char* name;
  sim::Request kind;  // the command's exchanges on the line
  int exchanges;
  // The schedule's bounds, in turns of the line: a busy dispenser about
  // every 4th (a turn late when an idle one is due, and a download holds
  // the line for three polls' time); an idle one within 29/32 of two sweeps.
  std::size_t fillingGap;
  std::size_t idleGap;
  std::function<void(station::Station&)> run;
};

void PrintTo(const LongCommand& command, std::ostream* out) {
  *out << command.name;
}

class PollTurns : public ::testing::TestWithParam<LongCommand> {};

TEST_P(PollTurns, AFillingDispenserKeepsItsTurnsAndTheIdleOnesTheirSweeps) {
  const LongCommand& c = GetParam();
  StationOnAPty rig;
  station::LineWorker& worker = rig.Worker();
  // The start's downloads and the first shift's opening totals (read once
  // the dispensers answer) are done.
  ASSERT_TRUE(ServiceFixture::WaitUntil([&] {
    return rig.Line().Count(sim::Request::PriceTable) >= std::uint64_t(kDispensers) &&
           rig.Line().Count(sim::Request::Totals) >= std::uint64_t(kDispensers * kNozzles) &&
           worker.Queued() == 0 && worker.View(kFilling).state == DispenserState::Idle;
  }));
  const auto authorized = rig.Station().Forecourt().Authorize(1, kFilling, 1, {}, "test");
  ASSERT_EQ(authorized.outcome, station::Outcome::Done) << authorized.detail;
  rig.Line().Lift(kFilling, 1);
  ASSERT_TRUE(ServiceFixture::WaitUntil(
      [&] { return worker.View(kFilling).state == DispenserState::Filling; }));

  rig.Clear();
  // Another dispenser's authorization, asked while the command runs: it
  // comes after all of the command's exchanges.
  std::future<station::CommandResult> later;
  std::thread command([&] { c.run(rig.Station()); });
  ASSERT_TRUE(ServiceFixture::WaitUntil([&] {
    const auto seen = rig.Exchanges();
    return std::any_of(seen.begin(), seen.end(),
                       [&](const Exchange& e) { return e.kind == c.kind; });
  }));
  later = std::async(std::launch::async,
                     [&] { return rig.Station().Forecourt().Authorize(1, 3, 1, {}, "test"); });
  command.join();
  const station::CommandResult answer = later.get();
  EXPECT_EQ(answer.outcome, station::Outcome::Done) << answer.detail;

  const std::vector<Turn> turns = Turns(rig.Exchanges());
  std::vector<std::size_t> commandAt;
  std::size_t authorizeAt = turns.size();
  for (std::size_t i = 0; i < turns.size(); ++i) {
    if (!turns[i].poll && turns[i].kind == c.kind) commandAt.push_back(i);
    const bool authorize =
        turns[i].kind == sim::Request::Authorize || turns[i].kind == sim::Request::PresetAuthorize;
    if (authorize && authorizeAt == turns.size()) authorizeAt = i;
  }
  ASSERT_GE(commandAt.size(), std::size_t(c.exchanges));
  const std::size_t first = commandAt.front();
  const std::size_t last = commandAt[std::size_t(c.exchanges) - 1];
  EXPECT_GT(authorizeAt, last) << "an authorization came between the command's exchanges";

  // Over the command's exchanges: the turns between two polls of each, and
  // from its start and to its end.
  std::map<int, std::size_t> lastPoll;
  std::map<int, std::size_t> longest;
  for (int d = 1; d <= kDispensers; ++d) lastPoll[d] = first;
  for (std::size_t i = first; i <= last; ++i) {
    if (!turns[i].poll) continue;
    const int d = turns[i].dispenser;
    longest[d] = std::max(longest[d], i - lastPoll[d]);
    lastPoll[d] = i;
  }
  for (auto& [d, at] : lastPoll) longest[d] = std::max(longest[d], last - at);
  EXPECT_LE(longest[kFilling], c.fillingGap)
      << "the filling dispenser waited behind the " << c.name;
  for (int d = 1; d <= kDispensers; ++d) {
    if (d == kFilling) continue;
    EXPECT_LE(longest[d], c.idleGap) << "dispenser " << d << " waited behind the " << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    LongCommands, PollTurns,
    ::testing::Values(LongCommand{"shift close", sim::Request::Totals, kDispensers* kNozzles, 5, 58,
                                  [](station::Station& station) {
                                    station.Shifts().Close("test");
                                  }},
                      LongCommand{"price change", sim::Request::PriceTable, kDispensers - 1, 7, 58,
                                  [](station::Station& station) {
                                    // The filling one's is deferred to its fill's end.
                                    station.Forecourt().ChangePrices(StationOnAPty::Book(5490));
                                  }}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

}  // namespace
}  // namespace quorlan::testing
