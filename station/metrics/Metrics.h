// SPDX-License-Identifier: Apache-2.0
#pragma once
// The service's own figures for GET /metrics, in the Prometheus text format.
// Each is counted where its work happens; counting is an atomic add, never a
// lock, so polling and publishing pay next to nothing for it.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quorlan/Driver.h"
#include "quorlan/PortDispatcher.h"
#include "station/model/DispenserView.h"
#include "station/model/Records.h"

namespace quorlan::station {

class Counter {
 public:
  void Add(std::uint64_t amount = 1) { value_.fetch_add(amount, std::memory_order_relaxed); }
  std::uint64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> value_{0};
};

class Gauge {
 public:
  void Set(std::int64_t value) { value_.store(value, std::memory_order_relaxed); }
  std::int64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::int64_t> value_{0};
};

// Observations in seconds, counted into fixed buckets.
class Histogram {
 public:
  explicit Histogram(std::span<const double> bounds);
  void Observe(double seconds);

  struct Snapshot {
    std::vector<double> bounds;
    std::vector<std::uint64_t> cumulative;  // one per bound, then +Inf
    double sum = 0;
  };
  Snapshot Read() const;

 private:
  std::vector<double> bounds_;
  std::unique_ptr<std::atomic<std::uint64_t>[]> buckets_;  // the last one is past every bound
  std::atomic<double> sum_{0};
};

// Counters by label values. A label set's first count takes a lock to add
// it; every later one finds it without one. Past its capacity a family
// counts in a member it never shows, so a flood of odd labels cannot grow it.
class CounterFamily {
 public:
  explicit CounterFamily(std::size_t labels) : labels_(labels) {}
  Counter& With(std::span<const std::string_view> values);

  struct Member {
    std::vector<std::string> values;
    std::uint64_t value = 0;
  };
  std::vector<Member> Read() const;

 private:
  static constexpr std::size_t kCapacity = 256;
  struct Slot {
    std::vector<std::string> values;
    Counter counter;
  };
  std::size_t labels_;
  std::array<Slot, kCapacity> slots_;
  std::atomic<std::size_t> used_{0};
  std::mutex adding_;
  Counter overflow_;
};

inline constexpr std::size_t kDispenserStates = 8;  // DispenserState's values
inline constexpr std::size_t kLinks = 4;            // Link's values
inline constexpr std::size_t kFillStatuses = 4;     // FillStatus's values

// Failed exchanges by channel, dispenser and kind: a fixed table, so that
// counting one takes no lock.
class LinkFailures {
 public:
  Counter& At(int channel, int dispenser, Link kind) {
    return counters_.at(Index(channel, dispenser, kind));
  }
  std::uint64_t Value(int channel, int dispenser, Link kind) const {
    return counters_.at(Index(channel, dispenser, kind)).Value();
  }

 private:
  static std::size_t Index(int channel, int dispenser, Link kind) {
    return (std::size_t(channel) * (kLastDispenser + 1) + std::size_t(dispenser)) * kLinks +
           static_cast<std::size_t>(kind);
  }
  std::array<Counter, (kLastChannel + 1) * (kLastDispenser + 1) * kLinks> counters_;
};

struct Metrics {
  Metrics();

  Counter polls;
  LinkFailures linkFailures;  // Ok stays 0 and is not shown
  // Between two polls of a dispenser, by the state it was in.
  Histogram& PollInterval(DispenserState state) {
    return *pollInterval[static_cast<std::size_t>(state)];
  }
  std::array<std::unique_ptr<Histogram>, kDispenserStates> pollInterval;
  std::array<Counter, kFillStatuses> fills;  // ended fills by FillStatus
  Counter events;
  Gauge eventStreams;
  CounterFamily httpRequests{2};  // route, status
  Histogram journalCommit;
};

// The process's figures: one service per process.
Metrics& ServiceMetrics();

// Whether each line is up now, by channel: a figure read at scrape time.
struct LineUp {
  int channel = 0;
  bool up = false;
  std::vector<int> dispensers;  // configured on the line
};

// The exposition text of every family.
std::string MetricsText(const Metrics& metrics, const std::vector<LineUp>& lines);

}  // namespace quorlan::station
