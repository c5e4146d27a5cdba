// SPDX-License-Identifier: Apache-2.0
// What settlement adds to the line's work: a shift close over 32 dispensers
// of 4 nozzles each against a bare driver reading the same 128 totals on the
// same paced line, with as many polls as the station made between them (the
// idle dispensers' turns), and an authorize with an Idempotency-Key against one
// without, through the HTTP API, in turns.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorlan/Driver.h"
#include "quorlan/SerialTransport.h"
#include "station/format/JsonViews.h"
#include "support/Registration.h"
#include "support/StationRig.h"
#include "support/Waiting.h"

namespace quorlan::bench {
namespace {

constexpr int kCloseDispensers = 32;
constexpr int kNozzles = 4;
constexpr int kCloses = 3;
constexpr int kAuthorizeDispensers = 4;
constexpr int kAuthorizeRounds = 6;  // each round authorizes every dispenser once

template <typename Action>
double Timed(Action action) {
  const auto start = Clock::now();
  action();
  return Seconds(Clock::now() - start);
}

bool AllAnswered(station::Station& station) {
  for (const auto& view : station.Views()) {
    if (view.state == DispenserState::Unknown) return false;
  }
  return true;
}

// The close as a till asks for it (totals of every nozzle, the report's
// transaction, the next shift) against the bare reads of those totals and
// the bare polls the station made during the close.
void ShiftClose(benchmark::State& state) {
  for (auto _ : state) {
    StationRig rig(kCloseDispensers, false);
    Require(WaitFor([&] { return AllAnswered(rig.Station()); }), "the dispensers never answered");
    // The first close waits for the first shift's opening totals.
    rig.Station().Shifts().Close("bench");
    std::vector<double> closes, polls;
    std::size_t unanswered = 0;
    for (int i = 0; i < kCloses; ++i) {
      std::string report;
      rig.Clear();
      closes.push_back(Timed([&] {
        report = station::ShiftReportJson(rig.Station().Shifts().Close("bench")).dump();
      }));
      const auto events = rig.Events();
      polls.push_back(double(std::count_if(events.begin(), events.end(), [](const LineEvent& e) {
        return e.request && e.dispenser != 0;
      })));
      unanswered += nlohmann::json::parse(report)["unanswered"].size();
    }
    const int closePolls = int(Quantile(polls, 0.5));
    rig.StopStation();

    serial::SerialDispatcher port;
    port.MapChannel(1, rig.SlavePath());
    Driver driver(port);
    driver.OpenLine(1);
    try {
      driver.Poll(1, 1);  // takes up what the station's last exchange left on the line
    } catch (const LinkFailure&) {
    }
    std::vector<double> reads;
    int retries = 0;
    for (int i = 0; i < kCloses; ++i) {
      reads.push_back(Timed([&] {
        for (Dispenser d = 1; d <= kCloseDispensers; ++d) {
          for (Nozzle n = 1; n <= kNozzles; ++n) {
            try {
              driver.Totals(1, d, n);
            } catch (const LinkFailure&) {
              // A late reply on a loaded machine: read again, as the station would.
              ++retries;
              driver.Totals(1, d, n);
            }
          }
        }
        // The station's polls, as it sends them (with the nozzle request).
        for (int p = 0; p < closePolls; ++p) {
          try {
            driver.Poll(1, Dispenser(p % kCloseDispensers + 1), 1);
          } catch (const LinkFailure&) {
            ++retries;
          }
        }
      }));
    }
    const double close = Quantile(closes, 0.5);
    const double read = Quantile(reads, 0.5);
    state.SetIterationTime(close);
    state.counters["close_ms"] = close * 1e3;
    state.counters["totals_reads_ms"] = read * 1e3;
    state.counters["ratio"] = close / read;
    state.counters["close_polls"] = closePolls;
    state.counters["unanswered"] = double(unanswered);  // 0: every close read all 128
    state.counters["bare_retries"] = retries;
  }
}

// One authorize of a prepay on dispenser `d`, with a key when one is given;
// its time, after which the sale is stopped and the dispenser idle again.
double Authorize(httplib::Client& client, int d, const std::string& key) {
  const std::string base = "/api/v1/dispensers/1/" + std::to_string(d);
  httplib::Headers headers{{"Authorization", std::string("Bearer ") + kBenchToken}};
  if (!key.empty()) headers.emplace("Idempotency-Key", key);
  int status = 0;
  const double seconds = Timed([&] {
    const auto answer = client.Post((base + "/authorize").c_str(), headers,
                                    R"({"grade":1,"amount":20.00})", "application/json");
    status = answer ? answer->status : 0;
  });
  Require(status == 200, "an authorization was refused");
  headers.erase("Idempotency-Key");
  const auto stop = client.Post((base + "/stop").c_str(), headers, "", "application/json");
  Require(stop && stop->status == 200, "a stop was refused");
  Require(WaitFor([&] {
            const auto view = client.Get(base.c_str(), headers);
            if (!view || view->status != 200) return false;
            const auto body = nlohmann::json::parse(view->body);
            return body["state"] == "idle" && body["fill_id"].is_null();
          }),
          "a stopped dispenser did not come back idle");
  return seconds;
}

void IdempotentAuthorize(benchmark::State& state) {
  for (auto _ : state) {
    StationRig rig(kAuthorizeDispensers, true);
    httplib::Client client("127.0.0.1", rig.HttpPort());
    client.set_read_timeout(std::chrono::seconds(120));
    Require(WaitFor([&] { return AllAnswered(rig.Station()); }), "the dispensers never answered");
    std::vector<double> plain, keyed;
    int key = 0;
    for (int round = 0; round < kAuthorizeRounds; ++round) {
      for (int d = 1; d <= kAuthorizeDispensers; ++d) {
        // Turn about, so neither kind always goes first on a dispenser.
        const bool withKey = (round + d) % 2 == 0;
        auto& into = withKey ? keyed : plain;
        into.push_back(Authorize(client, d, withKey ? "bench-" + std::to_string(++key) : ""));
      }
    }
    const double withKey = Quantile(keyed, 0.5);
    const double without = Quantile(plain, 0.5);
    state.SetIterationTime(withKey);
    state.counters["keyed_ms"] = withKey * 1e3;
    state.counters["plain_ms"] = without * 1e3;
    state.counters["ratio"] = withKey / without;
  }
}

const bool kRegistered = [] {
  RegisterTimedOnce("Settlement/shift_close_32x4", ShiftClose);
  RegisterTimedOnce("Settlement/idempotent_authorize", IdempotentAuthorize);
  return true;
}();

}  // namespace
}  // namespace quorlan::bench
