// SPDX-License-Identifier: Apache-2.0
// A long history replayed: streams that come back with Last-Event-ID 0 to a
// database of many stored events get every one of them, in order, while the
// service's memory stays where it was, during the replay and after it.
// QUORLAN_REPLAY_EVENTS sets the history's length (300,000 by default;
// docs/reliability.md gives the figures and a longer run).

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "EventStream.h"
#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// Memory is not judged under AddressSanitizer (it keeps freed memory), so a
// shorter history there checks the order at a fraction of the time.
constexpr int kDefaultEvents = 30'000;
#else
constexpr int kDefaultEvents = 300'000;
#endif
constexpr int kReadingStreams = 10;
constexpr int kSilentStreams = 10;
// The simulated line of WriteConfig: its dispensers make each stream's snapshot.
constexpr int kDispensers = 4;
// One stored event in this many is a price change; the others are fills.
constexpr int kPricesEvery = 1000;
// How far the service's resident memory may rise over what it held before
// the streams, at the peak and once they have gone.
constexpr long kGrowthKib = 64 * 1024;
constexpr auto kReplayDeadline = std::chrono::minutes(10);
constexpr auto kSampleEvery = std::chrono::milliseconds(20);

// A completed, paid fill as the journal announces it: every field of the API's
// fill object, figures varying from fill to fill.
std::string FillData(std::int64_t fill) {
  const int grade = 1 + int(fill % 4);
  const std::int64_t volume = 500 + fill * 37 % 6000;  // hundredths of a litre
  const std::int64_t price = 5000 + grade * 100;       // cents per litre
  const std::int64_t amount = volume * price / 100;
  const std::string stamp = "2026-12-07T09:" + std::to_string(10 + fill % 50) + ":" +
                            std::to_string(10 + fill % 49) + "Z";
  return json{{"id", fill},
              {"channel", 1},
              {"dispenser", 1 + int(fill % kDispensers)},
              {"nozzle", grade},
              {"grade", grade},
              {"price", double(price) / 100},
              {"volume", double(volume) / 100},
              {"amount", double(amount) / 100},
              {"limit", {{"volume", 60.0}}},
              {"authorized_by", "pos-1"},
              {"authorized_at", stamp},
              {"finished_at", stamp},
              {"recovered", false},
              {"status", "done"},
              {"requested_grade", grade},
              {"mismatch", false},
              {"settled_from", "readout"},
              {"refund", nullptr},
              {"paid", true},
              {"paid_by", "pos-1"},
              {"paid_at", stamp},
              {"reference", "receipt-" + std::to_string(fill)},
              {"locked_by", nullptr},
              {"locked_until", nullptr}}
      .dump();
}

std::string PricesData(std::int64_t change) {
  json book = json::array();
  for (int d = 1; d <= kDispensers; ++d) {
    for (int g = 1; g <= 4; ++g) {
      book.push_back(
          {{"channel", 1}, {"dispenser", d}, {"grade", g}, {"price", 50 + g + change % 7}});
    }
  }
  return book.dump();
}

void Check(sqlite3* db, int code, const char* what) {
  if (code != SQLITE_OK && code != SQLITE_DONE && code != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

// Appends `count` stored events to the journal's table as the service writes
// them, after every id it has given out (the highest stored and the reserved
// block); returns the first new id.
std::int64_t StoreHistory(const std::string& database, int count) {
  sqlite3* db = nullptr;
  Check(db, sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), "open");
  const auto close = std::unique_ptr<sqlite3, int (*)(sqlite3*)>(db, sqlite3_close);
  Check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin");
  sqlite3_stmt* statement = nullptr;
  Check(db,
        sqlite3_prepare_v2(db,
                           "SELECT max(coalesce((SELECT max(id) FROM events), 0), "
                           "coalesce((SELECT value FROM counters WHERE name = 'event_id'), 0))",
                           -1, &statement, nullptr),
        "floor");
  Check(db, sqlite3_step(statement), "floor");
  const std::int64_t first = sqlite3_column_int64(statement, 0) + 1;
  sqlite3_finalize(statement);
  Check(db,
        sqlite3_prepare_v2(db, "INSERT INTO events(id, name, data) VALUES(?, ?, ?)", -1, &statement,
                           nullptr),
        "insert");
  std::int64_t fills = 0, changes = 0;
  for (std::int64_t id = first; id < first + count; ++id) {
    const bool prices = (id - first) % kPricesEvery == kPricesEvery - 1;
    const std::string data = prices ? PricesData(++changes) : FillData(++fills);
    sqlite3_bind_int64(statement, 1, id);
    sqlite3_bind_text(statement, 2, prices ? "prices" : "fill", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 3, data.c_str(), int(data.size()), SQLITE_TRANSIENT);
    Check(db, sqlite3_step(statement), "insert");
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  Check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  return first;
}

// The streams the service feeds now, from its metrics; -1 when it did not answer.
int OpenStreams(httplib::Client& client) {
  const auto answer = client.Get("/metrics");
  if (!answer || answer->status != 200) return -1;
  const std::string name = "\nquorlan_event_streams ";
  const auto at = answer->body.find(name);
  return at == std::string::npos ? -1 : std::atoi(answer->body.c_str() + at + name.size());
}

// The highest resident memory of the service while it runs.
class PeakMemory {
 public:
  explicit PeakMemory(const Service& service)
      : thread_([this, &service] {
          while (!stopping_) {
            peak_ = std::max(peak_.load(), service.RssKib());
            std::this_thread::sleep_for(kSampleEvery);
          }
        }) {}
  ~PeakMemory() { Stop(); }
  long Stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    return peak_;
  }

 private:
  std::atomic<bool> stopping_{false};
  std::atomic<long> peak_{0};
  std::thread thread_;
};

TEST(ServiceReplay, LongHistoryReachesEveryReaderInOrderAndMemoryStaysFlat) {
  const int events = Setting("QUORLAN_REPLAY_EVENTS", kDefaultEvents);
  TempFolder dir;
  const std::string config = WriteConfig(dir, nullptr, 1, kDispensers);
  {
    // A first run makes the database, as a station that has been in service.
    Service first(dir, config);
    ASSERT_EQ(first.Terminate(), 0);
  }
  const std::int64_t first = StoreHistory(dir.File("station.db"), events);
  const std::int64_t last = first + events - 1;

  Service service(dir, config);
  auto view = service.Client("view");
  ASSERT_TRUE(WaitFor([&] { return OpenStreams(*view) == 0; }));
  const long before = service.RssKib();
  PeakMemory peak(service);

  const auto started = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<EventStream>> readers;
  std::vector<std::unique_ptr<SilentClient>> silent;
  const std::string request =
      "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Authorization: Bearer " +
      SecretOf("view") + "\r\nLast-Event-ID: 0\r\n\r\n";
  for (int i = 0; i < std::max(kReadingStreams, kSilentStreams); ++i) {
    if (i < kReadingStreams) {
      readers.push_back(std::make_unique<EventStream>(
          service.Port(), SecretOf("view"), StreamOptions{.resumeAfter = 0, .keepData = false}));
    }
    if (i < kSilentStreams) {
      silent.push_back(std::make_unique<SilentClient>(service.Port(), request));
      ASSERT_TRUE(silent.back()->Connected());
    }
  }
  // Every stream is being fed, the silent ones too.
  EXPECT_TRUE(WaitFor([&] { return OpenStreams(*view) == kReadingStreams + kSilentStreams; }));

  // The history, then each dispenser's snapshot.
  const auto replayed = [&](const auto& reader) {
    return reader->Events() >= std::size_t(events + kDispensers) || reader->Ended();
  };
  EXPECT_TRUE(WaitFor([&] { return std::all_of(readers.begin(), readers.end(), replayed); },
                      kReplayDeadline));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const long highest = peak.Stop();

  for (const auto& reader : readers) {
    EXPECT_EQ(reader->Status(), 200);
    EXPECT_EQ(reader->Fault(), "") << "ids increase, every line is an event";
    const auto ids = reader->Ids();
    ASSERT_GT(ids.size(), std::size_t(events));
    // Increasing ids from the first to the last stored, as many as stored:
    // every one of them, once, in order; the snapshot after them.
    EXPECT_EQ(ids.front(), first);
    EXPECT_EQ(ids[std::size_t(events) - 1], last);
    EXPECT_GT(ids[std::size_t(events)], last);
  }

  // All let go at once: a price change wakes every reader, the silent ones hang up.
  for (auto& reader : readers) reader->Leave();
  silent.clear();
  auto admin = service.Client("admin");
  admin->Put("/api/v1/prices",
             json::array({{{"channel", 1}, {"dispenser", 1}, {"grade", 1}, {"price", 60}}}).dump(),
             "application/json");
  for (auto& reader : readers) reader->Close();
  EXPECT_TRUE(WaitFor([&] { return OpenStreams(*view) == 0; }, std::chrono::seconds(90)));
  const long after = service.RssKib();

  std::printf(
      "replay of %d stored events to %d reading and %d silent streams: %.1f s; "
      "RSS %ld KiB before, %ld KiB at the peak, %ld KiB after\n",
      events, kReadingStreams, kSilentStreams, seconds, before, highest, after);
#if !defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer holds freed memory in quarantine: only a plain build
  // says anything about what the service keeps.
  EXPECT_LE(highest, before + kGrowthKib);
  EXPECT_LE(after, before + kGrowthKib);
#endif
  EXPECT_EQ(service.Terminate(), 0);
}

}  // namespace
}  // namespace quorlan::service_test
