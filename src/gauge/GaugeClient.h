// SPDX-License-Identifier: Apache-2.0
#pragma once
// Asks a gauge for its reports over a GaugeLink, for a command-line run or
// a service thread polling with deadlines. Every answer is the report in
// metric units or a Failure saying why not; a bad reply is asked again once
// and never becomes a reading. A line that is down is reopened at the next
// call, then after 1, 2, 4 ... 30 s while it stays down, so a dead gauge
// costs a call nothing between two tries. Not thread-safe: one thread owns it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "gauge/GaugeLink.h"
#include "gauge/Protocol.h"
#include "gauge/Readings.h"
#include "gauge/Units.h"

namespace quorlan::gauge {

// The link as the service and the command name it.
enum class LinkState : std::uint8_t { Ok, NoReply, BadReply, LineDown };
std::string_view LinkStateName(LinkState state);  // "ok", "no reply", "bad reply", "line down"

struct Failure {
  LinkState state = LinkState::NoReply;
  std::string detail;  // a few words, never the security code
};

template <typename T>
using Outcome = std::variant<T, Failure>;

template <typename T>
const Failure* FailureOf(const Outcome<T>& outcome) {
  return std::get_if<Failure>(&outcome);
}

using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

struct ClientOptions {
  Format format = Format::Computer;
  Units units = Units::Metric;
  std::string securityCode;  // empty: none is sent
  LinkTimeouts timeouts;
  int attempts = 2;  // a bad reply is asked again this often in all
  std::chrono::milliseconds firstBackoff{1000};
  std::chrono::milliseconds longestBackoff{30000};
  SteadyNow now = [] { return std::chrono::steady_clock::now(); };
};

struct ClientCounts {
  std::uint64_t exchanges = 0;
  std::uint64_t noReply = 0;
  std::uint64_t badReply = 0;
  std::uint64_t lineDown = 0;
};

class GaugeClient {
 public:
  // std::invalid_argument for a security code that is not valid.
  GaugeClient(std::unique_ptr<GaugeLink> link, ClientOptions options);

  Outcome<Inventory> ReadInventory(int tank = kAllTanks);
  // Computer format only: std::logic_error for a display-format client.
  Outcome<DeliveryReport> ReadDeliveries(int tank = kAllTanks);
  Outcome<AlarmReport> ReadAlarms(int tank = kAllTanks);

  // The outcome of the last call (LineDown before the first).
  LinkState State() const { return state_; }
  const ClientCounts& Counts() const { return counts_; }
  std::string Describe() const { return link_->Describe(); }
  const ClientOptions& Options() const { return options_; }
  void Close() { link_->Close(); }

 private:
  template <typename T, typename Parse>
  Outcome<T> Ask(Function function, int tank, Parse parse);
  bool EnsureOpen(std::string& problem);
  Failure Fail(LinkState state, std::string detail);

  std::unique_ptr<GaugeLink> link_;
  ClientOptions options_;
  LinkState state_ = LinkState::LineDown;
  ClientCounts counts_;
  std::chrono::steady_clock::time_point nextOpen_{};
  std::chrono::milliseconds backoff_{0};
};

}  // namespace quorlan::gauge
