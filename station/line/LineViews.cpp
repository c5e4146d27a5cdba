// SPDX-License-Identifier: Apache-2.0
#include "station/line/LineViews.h"

#include <chrono>
#include <string>

#include "station/base/Clock.h"
#include "station/format/EventData.h"

namespace quorlan::station {

LineViews::LineViews(int channel, const std::vector<int>& dispensers, SettlementJournal& settlement,
                     EventHub& hub)
    : channel_(channel), settlement_(settlement), hub_(hub) {
  const std::string now = NowUtc();
  for (int d : dispensers) {
    DispenserView view;
    view.channel = channel;
    view.dispenser = d;
    view.updatedAt = now;
    view.answeredAt = std::chrono::steady_clock::now();
    views_[d] = view;
  }
}

bool LineViews::Has(int dispenser) const {
  return views_.count(dispenser) != 0;
}

std::vector<DispenserView> LineViews::All() const {
  std::lock_guard lock(mutex_);
  std::vector<DispenserView> views;
  for (const auto& [d, view] : views_) {
    views.push_back(view);
    views.back().unpaid = settlement_.Unpaid(channel_, d);
  }
  return views;
}

DispenserView LineViews::View(int dispenser) const {
  std::lock_guard lock(mutex_);
  DispenserView view = views_.at(dispenser);
  view.unpaid = settlement_.Unpaid(channel_, dispenser);
  return view;
}

void LineViews::Publish(int dispenser, DispenserView view) {
  view.unpaid = settlement_.Unpaid(channel_, dispenser);
  {
    std::lock_guard lock(mutex_);
    DispenserView& current = views_[dispenser];
    if (view.SameAs(current)) return;
    view.updatedAt = NowUtc();
    current = view;
  }
  if (const auto now = progress_.Offer(view))
    hub_.Publish(kDispenserEvent, DispenserEventData(*now));
}

void LineViews::PublishDue() {
  for (const DispenserView& view : progress_.Due()) {
    hub_.Publish(kDispenserEvent, DispenserEventData(view));
  }
}

void LineViews::ShowFill(int dispenser, const OpenFill& fill) {
  std::lock_guard lock(mutex_);
  views_[dispenser].fill = fill;
}

}  // namespace quorlan::station
