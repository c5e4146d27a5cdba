// SPDX-License-Identifier: Apache-2.0
// The fill journal's queries over a grown journal: a year of 1,000,000
// generated fills on 32 dispensers, a few of them unpaid. Each query is the
// one behind a route (`/fills?paid=false`, one day's `from`/`to`, one
// dispenser's page) through the Store, without HTTP; opening the database,
// which every start does; and a shift close's transaction over the last
// day's fills (the totals it stores are made up: the line time of reading
// them is the line benchmarks' business).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <random>
#include <stdexcept>

#include "station/base/Instant.h"
#include "station/format/JsonViews.h"
#include "station/journal/Store.h"
#include "station/model/FillQuery.h"
#include "support/ScratchDirectory.h"

namespace quorlan::bench {
namespace {

using namespace std::chrono;

constexpr int kFills = 1'000'000;
constexpr int kDispensers = 32;
constexpr int kUnpaid = 40;
constexpr int kNozzles = 4;
// The last day's fills are the open shift's.
constexpr int kOpenShiftFills = kFills / 365;
const station::Instant kFirst = station::Instant{sys_days{year{2026} / 1 / 1}};
// A year's fills, evenly spread: one every ~31.5 s.
constexpr milliseconds kSpacing{365LL * 24 * 3600 * 1000 / kFills};

void Check(int result, sqlite3* db) {
  if (result != SQLITE_OK && result != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

// Writes the fills straight into a database the Store has laid out.
void Generate(const std::string& path) {
  { station::Store schema(path); }
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(
            db,
            "INSERT INTO fills(channel, dispenser, nozzle, grade, price, limit_kind, limit_value, "
            "authorized_by, authorized_at, finished_at, volume, amount, shown_volume, "
            "shown_amount, recovered, status, paid, paid_by, shift) "
            "VALUES(1, ?, ?, ?, 5290, 'none', 0, 'pos-1', ?, ?, ?, ?, 0, 0, 0, 'done', ?, ?, ?)",
            -1, &insert, nullptr),
        db);
  std::mt19937 random(7);
  for (int i = 0; i < kFills; ++i) {
    const int nozzle = 1 + int(random() % 4);
    const auto finished = kFirst + kSpacing * i;
    const std::int64_t volume = 500 + random() % 5000;
    const bool paid = i < kFills - kUnpaid;
    sqlite3_bind_int(insert, 1, 1 + int(random() % kDispensers));
    sqlite3_bind_int(insert, 2, nozzle);
    sqlite3_bind_int(insert, 3, nozzle);
    const std::string authorized = station::FormatUtc(finished - seconds(90));
    const std::string ended = station::FormatUtc(finished);
    sqlite3_bind_text(insert, 4, authorized.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 5, ended.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 6, volume);
    sqlite3_bind_int64(insert, 7, volume * 5290 / 100);
    sqlite3_bind_int(insert, 8, paid ? 1 : 0);
    if (paid) {
      sqlite3_bind_text(insert, 9, "pos-1", -1, SQLITE_STATIC);
    } else {
      sqlite3_bind_null(insert, 9);
    }
    if (i >= kFills - kOpenShiftFills) {
      sqlite3_bind_null(insert, 10);
    } else {
      sqlite3_bind_int(insert, 10, 0);  // counted in shifts long closed
    }
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

// One journal for every benchmark of the run.
struct Journal {
  ScratchDirectory directory;
  std::string path = directory.File("journal.db");
  std::unique_ptr<station::Store> store;
  Journal() {
    Generate(path);
    store = std::make_unique<station::Store>(path);
  }
};

Journal& Shared() {
  static Journal journal;
  return journal;
}

void Query(benchmark::State& state, const station::FillQuery& query, std::size_t expected) {
  station::Store& store = *Shared().store;
  for (auto _ : state) {
    const auto fills = store.fills.Find(query);
    if (fills.size() != expected) state.SkipWithError("unexpected number of fills");
    benchmark::DoNotOptimize(fills.data());
  }
}

void BM_JournalUnpaid(benchmark::State& state) {
  station::FillQuery query;
  query.paid = false;
  Query(state, query, kUnpaid);
}

void BM_JournalOneDay(benchmark::State& state) {
  station::FillQuery query;
  query.from = kFirst + days{200};
  query.to = kFirst + days{201};
  query.limit = station::kMaxFillPage;
  // A day holds ~2,740 fills: the first page of them.
  Query(state, query, station::kMaxFillPage);
}

void BM_JournalDispenserPage(benchmark::State& state) {
  station::FillQuery query;
  query.dispenser = 17;
  query.after = kFills / 2;
  query.limit = 100;
  Query(state, query, 100);
}

void BM_JournalOpen(benchmark::State& state) {
  const std::string path = Shared().path;
  for (auto _ : state) {
    station::Store store(path);
    benchmark::DoNotOptimize(store.settlement.Unpaid(1, 1));
  }
}

void BM_JournalShiftClose(benchmark::State& state) {
  station::Store& store = *Shared().store;
  for (auto _ : state) {
    station::ShiftJournal::Closing closing;
    closing.shift = store.shifts.Current(station::FormatUtc(station::Now())).id;
    closing.closedAt = station::FormatUtc(station::Now());
    closing.closedBy = "office";
    for (int d = 1; d <= kDispensers; ++d) {
      for (int n = 1; n <= kNozzles; ++n) {
        closing.readings.push_back({{1, d, n}, std::nullopt, station::Totals{100000, 5290000}});
      }
    }
    station::StoredEvent event{station::Now().time_since_epoch().count(), "shift", ""};
    const std::string report = store.shifts.Close(
        closing,
        [](const station::ShiftInput& input) {
          return station::ShiftReportJson(station::BuildShiftReport(input)).dump();
        },
        event);
    benchmark::DoNotOptimize(report.data());
  }
}

BENCHMARK(BM_JournalUnpaid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JournalOneDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JournalDispenserPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JournalOpen)->Unit(benchmark::kMillisecond);
// One close takes the day's fills; a second would find none.
BENCHMARK(BM_JournalShiftClose)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace quorlan::bench
