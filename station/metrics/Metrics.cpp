// SPDX-License-Identifier: Apache-2.0
#include "station/metrics/Metrics.h"

#include <fmt/format.h>

#include <algorithm>

#include "station/metrics/ProcessMetrics.h"

namespace quorlan::station {

namespace {

// A dispenser is polled every few tens of milliseconds while busy and less
// often while idle; a line's retries stretch it to seconds.
constexpr std::array<double, 10> kPollBounds{0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
// A commit waits for the disk: from a fraction of a millisecond to a stall.
constexpr std::array<double, 10> kCommitBounds{0.0005, 0.001, 0.0025, 0.005, 0.01,
                                               0.025,  0.05,  0.1,    0.5,   1};

constexpr std::array<std::string_view, kFillStatuses> kFillLabels{"pending", "open", "completed",
                                                                  "cancelled"};

std::string Escaped(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

std::string Number(double value) {
  return fmt::format("{}", value);
}

void Head(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out += fmt::format("# HELP {} {}\n# TYPE {} {}\n", name, help, name, type);
}

void WriteHistogram(std::string& out, std::string_view name, std::string_view labels,
                    const Histogram& histogram) {
  const Histogram::Snapshot read = histogram.Read();
  const std::string prefix = labels.empty() ? "" : fmt::format("{},", labels);
  for (std::size_t i = 0; i < read.bounds.size(); ++i) {
    out += fmt::format("{}_bucket{{{}le=\"{}\"}} {}\n", name, prefix, Number(read.bounds[i]),
                       read.cumulative[i]);
  }
  const std::uint64_t count = read.cumulative.back();
  out += fmt::format("{}_bucket{{{}le=\"+Inf\"}} {}\n", name, prefix, count);
  const std::string braces = labels.empty() ? "" : fmt::format("{{{}}}", labels);
  out += fmt::format("{}_sum{} {}\n{}_count{} {}\n", name, braces, Number(read.sum), name, braces,
                     count);
}

}  // namespace

Histogram::Histogram(std::span<const double> bounds)
    : bounds_(bounds.begin(), bounds.end()),
      buckets_(std::make_unique<std::atomic<std::uint64_t>[]>(bounds.size() + 1)) {}

void Histogram::Observe(double seconds) {
  const auto at = std::lower_bound(bounds_.begin(), bounds_.end(), seconds);
  buckets_[static_cast<std::size_t>(at - bounds_.begin())].fetch_add(1, std::memory_order_relaxed);
  sum_.fetch_add(seconds, std::memory_order_relaxed);
}

Histogram::Snapshot Histogram::Read() const {
  Snapshot read;
  read.bounds = bounds_;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i <= bounds_.size(); ++i) {
    total += buckets_[i].load(std::memory_order_relaxed);
    read.cumulative.push_back(total);
  }
  read.sum = sum_.load(std::memory_order_relaxed);
  return read;
}

Counter& CounterFamily::With(std::span<const std::string_view> values) {
  const auto matches = [&](const Slot& slot) {
    return std::equal(slot.values.begin(), slot.values.end(), values.begin(), values.end());
  };
  // Slots below `used_` are complete and never change again.
  std::size_t used = used_.load(std::memory_order_acquire);
  for (std::size_t i = 0; i < used; ++i) {
    if (matches(slots_[i])) return slots_[i].counter;
  }
  std::lock_guard lock(adding_);
  used = used_.load(std::memory_order_relaxed);
  for (std::size_t i = 0; i < used; ++i) {
    if (matches(slots_[i])) return slots_[i].counter;
  }
  if (used == kCapacity || values.size() != labels_) return overflow_;
  slots_[used].values.assign(values.begin(), values.end());
  used_.store(used + 1, std::memory_order_release);
  return slots_[used].counter;
}

std::vector<CounterFamily::Member> CounterFamily::Read() const {
  std::vector<Member> members;
  const std::size_t used = used_.load(std::memory_order_acquire);
  for (std::size_t i = 0; i < used; ++i) {
    members.push_back({slots_[i].values, slots_[i].counter.Value()});
  }
  return members;
}

Metrics::Metrics() : journalCommit(kCommitBounds) {
  for (auto& histogram : pollInterval) histogram = std::make_unique<Histogram>(kPollBounds);
}

Metrics& ServiceMetrics() {
  static Metrics metrics;
  return metrics;
}

std::string MetricsText(const Metrics& metrics, const std::vector<LineUp>& lines) {
  std::string out;
  Head(out, "quorlan_line_up", "gauge",
       "Whether the line to the dispensers is up (1) or down (0).");
  for (const LineUp& line : lines) {
    out += fmt::format("quorlan_line_up{{channel=\"{}\"}} {}\n", line.channel, line.up ? 1 : 0);
  }
  Head(out, "quorlan_polls_total", "counter", "Status polls sent to dispensers.");
  out += fmt::format("quorlan_polls_total {}\n", metrics.polls.Value());

  Head(out, "quorlan_link_failures_total", "counter",
       "Exchanges with a dispenser that failed, by channel, dispenser and kind.");
  for (const LineUp& line : lines) {
    for (int dispenser : line.dispensers) {
      for (std::size_t kind = 1; kind < kLinks; ++kind) {
        out += fmt::format(
            "quorlan_link_failures_total{{channel=\"{}\",dispenser=\"{}\",kind=\"{}\"}} {}\n",
            line.channel, dispenser, Escaped(kLinkNames[kind]),
            metrics.linkFailures.Value(line.channel, dispenser, static_cast<Link>(kind)));
      }
    }
  }
  Head(out, "quorlan_poll_interval_seconds", "histogram",
       "Time between two polls of a dispenser, by the state it was in.");
  for (std::size_t state = 0; state < kDispenserStates; ++state) {
    const auto name = StateName(static_cast<DispenserState>(state));
    WriteHistogram(out, "quorlan_poll_interval_seconds", fmt::format("state=\"{}\"", Escaped(name)),
                   *metrics.pollInterval[state]);
  }
  Head(out, "quorlan_fills_total", "counter", "Fills journaled as ended, by status.");
  for (const auto status : {FillStatus::Done, FillStatus::Cancelled}) {
    const auto index = static_cast<std::size_t>(status);
    out += fmt::format("quorlan_fills_total{{status=\"{}\"}} {}\n", kFillLabels[index],
                       metrics.fills[index].Value());
  }
  Head(out, "quorlan_events_total", "counter", "Events published to the event streams.");
  out += fmt::format("quorlan_events_total {}\n", metrics.events.Value());
  Head(out, "quorlan_event_streams", "gauge", "Event streams open now.");
  out += fmt::format("quorlan_event_streams {}\n", metrics.eventStreams.Value());

  Head(out, "quorlan_http_requests_total", "counter",
       "HTTP requests answered, by route and status.");
  for (const auto& member : metrics.httpRequests.Read()) {
    out += fmt::format("quorlan_http_requests_total{{route=\"{}\",status=\"{}\"}} {}\n",
                       Escaped(member.values.at(0)), Escaped(member.values.at(1)), member.value);
  }
  Head(out, "quorlan_journal_commit_seconds", "histogram",
       "Time to commit a write to the fill journal.");
  WriteHistogram(out, "quorlan_journal_commit_seconds", "", metrics.journalCommit);
  out += ProcessMetricsText();
  return out;
}

}  // namespace quorlan::station
