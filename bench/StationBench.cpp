// The station service against the line's limit and against plain baselines,
// each pair measured in the same run: how polling follows the filling
// dispensers, how soon a change reaches an event stream, what a request and
// a journal commit cost. The memory of a long run is bench/station-memory.sh.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorlan/Driver.h"
#include "quorlan/SerialTransport.h"
#include "sim/Requests.h"
#include "support/PtyRig.h"
#include "support/Registration.h"
#include "support/ScratchDirectory.h"
#include "support/StationRig.h"
#include "support/Waiting.h"

namespace quorlan::bench {
namespace {
// cpp-httplib's pool as the station once set it: one thread per connection.
constexpr int kBareThreads = 96;

// A status poll: 4 bytes out, 18 back.
constexpr double kStatusPollBytes = 22;
constexpr std::array<int, 2> kFilling{7, 23};
constexpr auto kPollingWindow = std::chrono::seconds(20);
constexpr int kPlainSweeps = 3;
constexpr int kLatencyTrials = 60;
constexpr int kClients = 16;
constexpr auto kRequestWindow = std::chrono::seconds(2);
constexpr int kRequestRounds = 3;
constexpr int kCommits = 100;

// Per dispenser, the times between its consecutive status polls, in seconds
// and in turns of the line (its status polls and commands' requests).
struct Intervals {
  std::map<int, std::vector<double>> seconds;
  std::map<int, std::vector<double>> polls;
};

Intervals PollIntervals(const std::vector<LineEvent>& events) {
  std::map<int, std::pair<Clock::time_point, int>> last;
  Intervals intervals;
  int poll = 0;
  for (const LineEvent& event : events) {
    if (!event.request || (event.dispenser == 0 && !event.command)) continue;
    ++poll;
    if (event.dispenser == 0) continue;
    const auto at = last.find(event.dispenser);
    if (at != last.end()) {
      intervals.seconds[event.dispenser].push_back(Seconds(event.at - at->second.first));
      intervals.polls[event.dispenser].push_back(poll - at->second.second);
    }
    last[event.dispenser] = {event.at, poll};
  }
  return intervals;
}

// Requests of any kind and status polls a second, over the events' span.
std::pair<double, double> Rates(const std::vector<LineEvent>& events) {
  double requests = 0, polls = 0;
  for (const LineEvent& event : events) {
    requests += event.request ? 1 : 0;
    polls += event.request && event.dispenser != 0 ? 1 : 0;
  }
  const double span = events.size() < 2 ? 1 : Seconds(events.back().at - events.front().at);
  return {requests / span, polls / span};
}

// p50, p90, p99 and max of the values, as counters in milliseconds.
void Distribution(benchmark::State& state, const std::string& prefix,
                  const std::vector<double>& seconds) {
  for (const auto& [name, p] : {std::pair{"p50", 0.5}, {"p90", 0.9}, {"p99", 0.99}, {"max", 1.0}}) {
    state.counters[prefix + "_" + name + "_ms"] = Quantile(seconds, p) * 1e3;
  }
}

// 32 dispensers on one paced line, two of them filling: the intervals the
// service polls the filling and the idle ones at, then the plain round robin
// of a bare driver on the same line.
void AdaptivePolling(benchmark::State& state) {
  for (auto _ : state) {
    StationRig rig(32, false);
    station::LineWorker& worker = *rig.Station().Line(1);
    // The service authorizes only a dispenser it has seen idle: the rig waits
    // for the first answers as a point of sale would.
    Require(WaitFor([&] {
              return worker.View(kFilling[0]).state == DispenserState::Idle &&
                     worker.View(kFilling[1]).state == DispenserState::Idle;
            }),
            "the dispensers never answered");
    for (int d : kFilling) {
      const auto result = worker.Authorize(d, 1, {}, "bench", worker.Stops(d)).get();
      Require(result.outcome == station::Outcome::Done, "the authorization failed");
      rig.Line().Lift(d, 1);
    }
    Require(WaitFor([&] {
              return worker.View(kFilling[0]).state == DispenserState::Filling &&
                     worker.View(kFilling[1]).state == DispenserState::Filling;
            }),
            "the fills did not start");
    rig.Clear();
    std::this_thread::sleep_for(kPollingWindow);
    const auto served = rig.Events();
    const auto adaptive = PollIntervals(served);
    rig.StopStation();

    serial::SerialDispatcher port;
    port.MapChannel(1, rig.SlavePath());
    Driver driver(port);
    driver.OpenLine(1);
    rig.Clear();
    for (int sweep = 0; sweep < kPlainSweeps; ++sweep) {
      for (Dispenser d = 1; d <= 32; ++d) {
        try {
          driver.Poll(1, d);
        } catch (const LinkFailure&) {
          // A late reply on a loaded machine: the sweep goes on, as the
          // station's does.
        }
      }
    }
    const auto swept = rig.Events();
    const auto plain = PollIntervals(swept);

    std::vector<double> active, idle, activePolls, idlePolls, sweeps;
    for (const auto& [d, intervals] : adaptive.seconds) {
      const bool filling = d == kFilling[0] || d == kFilling[1];
      auto& into = filling ? active : idle;
      into.insert(into.end(), intervals.begin(), intervals.end());
      auto& polls = filling ? activePolls : idlePolls;
      polls.insert(polls.end(), adaptive.polls.at(d).begin(), adaptive.polls.at(d).end());
    }
    for (const auto& [d, intervals] : plain.seconds) {
      sweeps.insert(sweeps.end(), intervals.begin(), intervals.end());
    }
    Require(!active.empty() && !idle.empty() && !sweeps.empty(), "no polls seen");
    state.SetIterationTime(Seconds(kPollingWindow));
    Distribution(state, "active", active);
    Distribution(state, "idle", idle);
    state.counters["idle_polled"] = double(adaptive.seconds.size()) - 2;
    state.counters["active_p50_polls"] = Quantile(activePolls, 0.5);
    state.counters["active_max_polls"] = Quantile(activePolls, 1);
    state.counters["idle_max_polls"] = Quantile(idlePolls, 1);
    state.counters["sweep_ms"] = Quantile(sweeps, 0.5) * 1e3;
    state.counters["poll_line_ms"] = IdealLineSeconds(kStatusPollBytes) * 1e3;
    std::tie(state.counters["requests_per_s"], state.counters["polls_per_s"]) = Rates(served);
    std::tie(state.counters["plain_requests_per_s"], state.counters["plain_polls_per_s"]) =
        Rates(swept);
  }
}

// Status polls and commands' requests, over the events' span.
double TurnSeconds(const std::vector<LineEvent>& events) {
  const auto turns = std::count_if(events.begin(), events.end(), [](const LineEvent& event) {
    return event.request && (event.dispenser != 0 || event.command);
  });
  return events.size() < 2 || turns == 0
             ? 0
             : Seconds(events.back().at - events.front().at) / double(turns);
}

// The filling and the idle dispensers' intervals while `command` runs, as
// counters named `prefix`_...: in milliseconds, in turns, and the turn time.
void PollingDuring(benchmark::State& state, StationRig& rig, const std::string& prefix,
                   const std::function<void()>& command) {
  rig.Clear();
  const auto started = Clock::now();
  command();
  state.counters[prefix + "_ms"] = Seconds(Clock::now() - started) * 1e3;
  const auto events = rig.Events();
  const auto intervals = PollIntervals(events);
  std::vector<double> active, idle, activeTurns, idleTurns;
  for (const auto& [d, seconds] : intervals.seconds) {
    const bool filling = d == kFilling[0];
    auto& into = filling ? active : idle;
    into.insert(into.end(), seconds.begin(), seconds.end());
    auto& turns = filling ? activeTurns : idleTurns;
    turns.insert(turns.end(), intervals.polls.at(d).begin(), intervals.polls.at(d).end());
  }
  Require(!active.empty() && !idle.empty(), "no polls seen during the command");
  state.counters[prefix + "_active_p50_ms"] = Quantile(active, 0.5) * 1e3;
  state.counters[prefix + "_active_max_ms"] = Quantile(active, 1) * 1e3;
  state.counters[prefix + "_idle_max_ms"] = Quantile(idle, 1) * 1e3;
  state.counters[prefix + "_active_max_turns"] = Quantile(activeTurns, 1);
  state.counters[prefix + "_idle_max_turns"] = Quantile(idleTurns, 1);
  state.counters[prefix + "_turn_ms"] = TurnSeconds(events) * 1e3;
  state.counters[prefix + "_commands"] = double(std::count_if(
      events.begin(), events.end(), [](const LineEvent& event) { return event.command; }));
}

// 32 dispensers on one paced line, one of them filling: how it and the idle
// ones are polled while a shift close reads the 128 totals, and while a
// price change goes to the 31 others (the filling one's waits for its end).
void PollingDuringCommands(benchmark::State& state) {
  for (auto _ : state) {
    StationRig rig(32, false);
    station::LineWorker& worker = *rig.Station().Line(1);
    // The start's downloads and opening totals go first.
    Require(WaitFor([&] {
              return rig.Line().Count(sim::Request::Totals) >= 32 * 4 && worker.Queued() == 0 &&
                     worker.View(kFilling[0]).state == DispenserState::Idle;
            }),
            "the start's reads never ended");
    const auto result =
        worker.Authorize(kFilling[0], 1, {}, "bench", worker.Stops(kFilling[0])).get();
    Require(result.outcome == station::Outcome::Done, "the authorization failed");
    rig.Line().Lift(kFilling[0], 1);
    Require(WaitFor([&] { return worker.View(kFilling[0]).state == DispenserState::Filling; }),
            "the fill did not start");
    PollingDuring(state, rig, "close", [&] { rig.Station().Shifts().Close("bench"); });
    std::vector<station::PriceEntry> book;
    for (int d = 1; d <= 32; ++d) {
      for (int g = 1; g <= 4; ++g) book.push_back({1, d, g, 5490});
    }
    PollingDuring(state, rig, "prices", [&] { rig.Station().Forecourt().ChangePrices(book); });
    state.SetIterationTime((state.counters["close_ms"] + state.counters["prices_ms"]) / 1e3);
    rig.StopStation();
  }
}

// Reads a station's event stream on its own thread and tells when the first
// dispenser event showing a given nozzle arrives.
class StreamWatcher {
 public:
  explicit StreamWatcher(int port) : client_("127.0.0.1", port) {
    client_.set_read_timeout(std::chrono::seconds(60));
    thread_ = std::thread([this] {
      std::string pending;
      client_.Get("/api/v1/events", {{"Authorization", std::string("Bearer ") + kBenchToken}},
                  [this, &pending](const char* data, std::size_t size) {
                    const auto now = Clock::now();
                    pending.append(data, size);
                    for (auto end = pending.find("\n\n"); end != std::string::npos;
                         end = pending.find("\n\n")) {
                      Take(pending.substr(0, end), now);
                      pending.erase(0, end + 2);
                    }
                    return true;
                  });
    });
  }
  ~StreamWatcher() {
    client_.stop();
    thread_.join();
  }
  StreamWatcher(const StreamWatcher&) = delete;
  StreamWatcher& operator=(const StreamWatcher&) = delete;

  // Call before causing the change.
  void Expect(int nozzle) {
    std::lock_guard lock(mutex_);
    expected_ = nozzle;
    seen_.reset();
  }
  std::optional<Clock::time_point> Seen() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return seen_.has_value(); });
    return seen_;
  }
  bool Started() {
    std::lock_guard lock(mutex_);
    return started_;
  }

 private:
  void Take(const std::string& event, Clock::time_point at) {
    const auto data = event.find("data: ");
    if (event.find("event: dispenser") == std::string::npos || data == std::string::npos) return;
    const auto view = nlohmann::json::parse(event.substr(data + 6));
    std::lock_guard lock(mutex_);
    started_ = true;
    // A hung nozzle is null.
    const int nozzle = view["nozzle"].is_number() ? view["nozzle"].get<int>() : 0;
    if (!seen_ && nozzle == expected_) {
      seen_ = at;
      changed_.notify_all();
    }
  }

  httplib::Client client_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int expected_ = -1;
  bool started_ = false;
  std::optional<Clock::time_point> seen_;
};

// The end of the first reply whose request left after `after`: when the
// change could have reached the host at the earliest.
std::optional<Clock::time_point> FirstReplyAfter(const std::vector<LineEvent>& events,
                                                 Clock::time_point after) {
  bool asked = false;
  for (const LineEvent& event : events) {
    if (event.request && event.at > after) asked = true;
    if (asked && !event.request) return event.at;
  }
  return std::nullopt;
}

// One dispenser on a paced line; its nozzle goes up and down at random
// moments: the time until an event stream shows it, and until the first
// reply that could carry it has crossed the line.
void EventLatency(benchmark::State& state) {
  for (auto _ : state) {
    StationRig rig(1, true);
    std::vector<double> latency, floor, overhead, cycle;
    {
      StreamWatcher watcher(rig.HttpPort());
      Require(WaitFor([&] { return watcher.Started(); }), "no event stream");
      std::mt19937 random(17);
      std::uniform_int_distribution<int> pause(20, 80);
      for (int trial = 0; trial < kLatencyTrials; ++trial) {
        const int nozzle = trial % 2 == 0 ? 1 : 0;
        watcher.Expect(nozzle);
        for (const auto& [d, intervals] : PollIntervals(rig.Events()).seconds) {
          cycle.insert(cycle.end(), intervals.begin(), intervals.end());
        }
        rig.Clear();
        const auto changed = Clock::now();
        if (nozzle) {
          rig.Line().Lift(1, 1);
        } else {
          rig.Line().Hang(1);
        }
        const auto seen = watcher.Seen();
        Require(seen.has_value(), "the change never reached the stream");
        const auto reply = FirstReplyAfter(rig.Events(), changed);
        latency.push_back(Seconds(*seen - changed));
        if (reply) {
          floor.push_back(Seconds(*reply - changed));
          overhead.push_back(Seconds(*seen - *reply));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
      }
      rig.StopStation();
    }
    state.SetIterationTime(Quantile(latency, 0.5));
    state.counters["p50_ms"] = Quantile(latency, 0.5) * 1e3;
    state.counters["p99_ms"] = Quantile(latency, 0.99) * 1e3;
    state.counters["line_p50_ms"] = Quantile(floor, 0.5) * 1e3;
    state.counters["line_p99_ms"] = Quantile(floor, 0.99) * 1e3;
    state.counters["poll_cycle_p50_ms"] = Quantile(cycle, 0.5) * 1e3;
    state.counters["after_line_p50_ms"] = Quantile(overhead, 0.5) * 1e3;
    state.counters["poll_line_ms"] = IdealLineSeconds(kStatusPollBytes) * 1e3;
  }
}

// Requests a second from kClients keep-alive clients asking for `path`.
double Throughput(int port, const std::string& path) {
  std::atomic<long> answered{0};
  const auto start = Clock::now();
  const auto deadline = start + kRequestWindow;
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      const httplib::Headers headers{{"Authorization", std::string("Bearer ") + kBenchToken}};
      while (Clock::now() < deadline) {
        const auto result = client.Get(path.c_str(), headers);
        if (result && result->status == 200) ++answered;
      }
    });
  }
  for (auto& client : clients) client.join();
  return double(answered) / Seconds(Clock::now() - start);
}

// GET /api/v1/dispensers of a 32-dispenser station against a bare server
// answering the same body from memory with the same threads, in turns.
void Requests(benchmark::State& state) {
  for (auto _ : state) {
    StationRig rig(32, true);
    const std::string path = "/api/v1/dispensers";
    httplib::Client probe("127.0.0.1", rig.HttpPort());
    const auto answer =
        probe.Get(path.c_str(), {{"Authorization", std::string("Bearer ") + kBenchToken}});
    Require(answer && answer->status == 200, "the station did not answer");
    const std::string body = answer->body;

    httplib::Server bare;
    bare.new_task_queue = [] { return new httplib::ThreadPool(kBareThreads); };
    bare.Get(path, [&body](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, "application/json");
    });
    const int barePort = bare.bind_to_any_port("127.0.0.1");
    std::thread serving([&bare] { bare.listen_after_bind(); });
    Require(WaitFor([&] { return bare.is_running(); }), "the bare server did not start");

    std::vector<double> served, bareServed, ratios;
    for (int round = 0; round < kRequestRounds; ++round) {
      bareServed.push_back(Throughput(barePort, path));
      served.push_back(Throughput(rig.HttpPort(), path));
      ratios.push_back(served.back() / bareServed.back());
    }
    bare.stop();
    serving.join();
    state.SetIterationTime(Seconds(kRequestWindow) * 2 * kRequestRounds);
    state.counters["station_per_s"] = Quantile(served, 0.5);
    state.counters["bare_per_s"] = Quantile(bareServed, 0.5);
    state.counters["ratio"] = Quantile(ratios, 0.5);
    state.counters["body_bytes"] = double(body.size());
  }
}

// A bare SQLite connection with the journal's table and settings.
class BareDatabase {
 public:
  BareDatabase(const std::string& path, const std::string& schema, const char* synchronous) {
    Require(sqlite3_open(path.c_str(), &db_) == SQLITE_OK, "cannot open the bare database");
    Execute("PRAGMA journal_mode=WAL");
    Execute(std::string("PRAGMA synchronous=") + synchronous);
    Execute(schema);
    Require(sqlite3_prepare_v2(db_,
                               "INSERT INTO fills(channel, dispenser, nozzle, grade, price, "
                               "limit_kind, limit_value, authorized_by, authorized_at, "
                               "finished_at, volume, amount, shown_volume, shown_amount, "
                               "recovered, status) VALUES(1, 2, 0, 1, 5290, 'volume', 1000, "
                               "'pos-1', '2026-12-07T10:15:02.120Z', NULL, 0, 0, 0, 0, 0, "
                               "'pending')",
                               -1, &insert_, nullptr) == SQLITE_OK,
            "cannot prepare the bare insert");
  }
  ~BareDatabase() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }
  BareDatabase(const BareDatabase&) = delete;
  BareDatabase& operator=(const BareDatabase&) = delete;

  void Insert() {
    Require(sqlite3_step(insert_) == SQLITE_DONE, "the bare insert failed");
    sqlite3_reset(insert_);
  }

 private:
  void Execute(const std::string& sql) {
    Require(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK, sql.c_str());
  }
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

// The journal's own table definition, read back from its database.
std::string FillsSchema(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE tbl_name = 'fills' AND sql NOT NULL",
                     -1, &query, nullptr);
  std::string schema;
  while (sqlite3_step(query) == SQLITE_ROW) {
    schema += reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    schema += ";";
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return schema;
}

template <typename Action>
double Timed(Action action) {
  const auto start = Clock::now();
  action();
  return Seconds(Clock::now() - start);
}

// The journal's commits of a fill against a bare insert of the same row with
// the same settings on the same file system, in turns; and what the sync to
// the disk costs there.
void Commits(benchmark::State& state) {
  for (auto _ : state) {
    ScratchDirectory scratch;
    station::Store store(scratch.File("journal.db"));
    const std::string schema = FillsSchema(scratch.File("journal.db"));
    BareDatabase bare(scratch.File("bare.db"), schema, "FULL");
    BareDatabase unsynced(scratch.File("unsynced.db"), schema, "OFF");
    const int file = ::open(scratch.File("sync").c_str(), O_WRONLY | O_CREAT, 0600);
    Require(file >= 0, "cannot open the sync file");
    const std::vector<char> page(4096, 'q');

    station::FillRecord fill;
    fill.channel = 1;
    fill.dispenser = 2;
    fill.grade = 1;
    fill.price = 5290;
    fill.limit = {station::FillLimit::Kind::Volume, 1000};
    fill.authorizedBy = "pos-1";
    fill.authorizedAt = "2026-12-07T10:15:02.120Z";
    std::vector<double> journal, complete, bareInsert, unsyncedInsert, sync;
    for (int i = 0; i < kCommits; ++i) {
      bareInsert.push_back(Timed([&] { bare.Insert(); }));
      fill.status = station::FillStatus::Pending;
      journal.push_back(Timed([&] { fill.id = store.fills.Insert(fill); }));
      fill.status = station::FillStatus::Done;
      fill.volume = 1000;
      fill.amount = 52900;
      fill.finishedAt = "2026-12-07T10:17:42.007Z";
      complete.push_back(Timed([&] {
        store.fills.End(fill, {i + 1, "fill", R"({"id":1,"volume":10.00})"});
      }));
      unsyncedInsert.push_back(Timed([&] { unsynced.Insert(); }));
      sync.push_back(Timed([&] {
        Require(::pwrite(file, page.data(), page.size(), 0) == ssize_t(page.size()), "pwrite");
        ::fdatasync(file);
      }));
    }
    ::close(file);
    const double bareMedian = Quantile(bareInsert, 0.5);
    state.SetIterationTime(Quantile(journal, 0.5));
    state.counters["journal_ms"] = Quantile(journal, 0.5) * 1e3;
    state.counters["complete_ms"] = Quantile(complete, 0.5) * 1e3;
    state.counters["bare_ms"] = bareMedian * 1e3;
    state.counters["unsynced_ms"] = Quantile(unsyncedInsert, 0.5) * 1e3;
    state.counters["fdatasync_ms"] = Quantile(sync, 0.5) * 1e3;
    state.counters["ratio"] = Quantile(journal, 0.5) / bareMedian;
    state.counters["complete_ratio"] = Quantile(complete, 0.5) / bareMedian;
  }
}

const bool kRegistered = [] {
  RegisterTimedOnce("Station/adaptive_polling", AdaptivePolling);
  RegisterTimedOnce("Station/polling_during_commands", PollingDuringCommands);
  RegisterTimedOnce("Station/event_latency", EventLatency);
  RegisterTimedOnce("Station/requests", Requests);
  RegisterTimedOnce("Station/commits", Commits);
  return true;
}();

}  // namespace
}  // namespace quorlan::bench
