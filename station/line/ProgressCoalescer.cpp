// SPDX-License-Identifier: Apache-2.0
#include "station/line/ProgressCoalescer.h"

namespace quorlan::station {

namespace {

// Only the running figures moved.
bool ProgressOnly(const DispenserView& view, const DispenserView& sent) {
  DispenserView figures = view;
  figures.volume = sent.volume;
  figures.amount = sent.amount;
  return figures.SameAs(sent);
}

}  // namespace

ProgressCoalescer::ProgressCoalescer(std::chrono::milliseconds window, Clock clock)
    : window_(window), clock_(std::move(clock)) {}

std::optional<DispenserView> ProgressCoalescer::Offer(const DispenserView& view) {
  const auto now = clock_();
  std::lock_guard lock(mutex_);
  Dispenser& dispenser = dispensers_[view.dispenser];
  const bool progress = dispenser.sent && ProgressOnly(view, *dispenser.sent);
  if (progress && now - dispenser.sentAt < window_) {
    dispenser.held = view;
    return std::nullopt;
  }
  // What goes now is newer than anything held.
  dispenser.held.reset();
  dispenser.sent = view;
  dispenser.sentAt = now;
  return view;
}

std::vector<DispenserView> ProgressCoalescer::Due() {
  const auto now = clock_();
  std::vector<DispenserView> due;
  std::lock_guard lock(mutex_);
  for (auto& [number, dispenser] : dispensers_) {
    if (!dispenser.held || now - dispenser.sentAt < window_) continue;
    due.push_back(*dispenser.held);
    dispenser.sent = std::move(dispenser.held);
    dispenser.held.reset();
    dispenser.sentAt = now;
  }
  return due;
}

}  // namespace quorlan::station
