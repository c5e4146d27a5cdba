// SPDX-License-Identifier: Apache-2.0
#include "gauge/GaugeClient.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>

#include "gauge/Command.h"
#include "gauge/FrameFinder.h"
#include "gauge/Replies.h"

namespace quorlan::gauge {

std::string_view LinkStateName(LinkState state) {
  switch (state) {
    case LinkState::Ok:
      return "ok";
    case LinkState::NoReply:
      return "no reply";
    case LinkState::BadReply:
      return "bad reply";
    case LinkState::LineDown:
      return "line down";
  }
  return "?";
}

GaugeClient::GaugeClient(std::unique_ptr<GaugeLink> link, ClientOptions options)
    : link_(std::move(link)), options_(std::move(options)) {
  if (!options_.securityCode.empty() && !ValidSecurityCode(options_.securityCode)) {
    throw std::invalid_argument("a security code is 1 to 16 visible ASCII characters");
  }
  options_.attempts = std::max(options_.attempts, 1);
}

Failure GaugeClient::Fail(LinkState state, std::string detail) {
  state_ = state;
  if (state == LinkState::NoReply) ++counts_.noReply;
  if (state == LinkState::BadReply) ++counts_.badReply;
  if (state == LinkState::LineDown) ++counts_.lineDown;
  return Failure{state, std::move(detail)};
}

bool GaugeClient::EnsureOpen(std::string& problem) {
  if (link_->IsOpen()) return true;
  const auto now = options_.now();
  if (now < nextOpen_) {
    problem = link_->Problem().empty() ? "not open" : link_->Problem();
    return false;
  }
  if (link_->Open(options_.timeouts)) {
    backoff_ = std::chrono::milliseconds(0);
    return true;
  }
  backoff_ = backoff_.count() == 0 ? options_.firstBackoff
                                   : std::min(backoff_ * 2, options_.longestBackoff);
  nextOpen_ = now + backoff_;
  problem = link_->Problem();
  return false;
}

template <typename T, typename Parse>
Outcome<T> GaugeClient::Ask(Function function, int tank, Parse parse) {
  const auto command = BuildCommand(function, options_.format, tank, options_.securityCode);
  std::string problem;
  if (!EnsureOpen(problem)) return Fail(LinkState::LineDown, problem);
  Failure last;
  for (int attempt = 0; attempt < options_.attempts; ++attempt) {
    ++counts_.exchanges;
    const auto heard = link_->Transfer(command.bytes, options_.timeouts);
    if (!heard) {
      // Reopened at the next call, at once: a bridge that dropped the
      // connection usually takes the next one.
      nextOpen_ = {};
      return Fail(LinkState::LineDown, link_->Problem());
    }
    if (heard->empty()) {
      link_->LoseStep();
      return Fail(LinkState::NoReply, "no reply to " + command.shown.substr(1));
    }
    FrameFinder finder;
    finder.Feed(*heard);
    const auto frame = finder.Next();
    Parsed<T> parsed = frame ? parse(*frame, command) : Parsed<T>(BadReply{"a cut reply"});
    if (auto* bad = ProblemOf(parsed)) {
      link_->LoseStep();
      last = Fail(LinkState::BadReply, bad->reason);
      continue;
    }
    state_ = LinkState::Ok;
    auto value = std::get<T>(std::move(parsed));
    if constexpr (!std::is_same_v<T, AlarmReport>) ToMetric(value, options_.units);
    return value;
  }
  return last;
}

Outcome<Inventory> GaugeClient::ReadInventory(int tank) {
  return Ask<Inventory>(Function::Inventory, tank, ParseInventory);
}

Outcome<DeliveryReport> GaugeClient::ReadDeliveries(int tank) {
  if (options_.format == Format::Display) {
    throw std::logic_error("a display-format gauge reports only its inventory");
  }
  return Ask<DeliveryReport>(Function::Deliveries, tank, ParseDeliveries);
}

Outcome<AlarmReport> GaugeClient::ReadAlarms(int tank) {
  if (options_.format == Format::Display) {
    throw std::logic_error("a display-format gauge reports only its inventory");
  }
  return Ask<AlarmReport>(Function::Alarms, tank, ParseAlarms);
}

}  // namespace quorlan::gauge
