// SPDX-License-Identifier: Apache-2.0
#pragma once
// A line's dispensers as clients see them: the last view of each, with its
// unpaid fills counted in, and each change published as a `dispenser` event
// (a filling dispenser's figures coalesced, ProgressCoalescer). Read from
// any thread; changed by the line's worker only.

#include <map>
#include <mutex>
#include <vector>

#include "station/events/EventHub.h"
#include "station/journal/SettlementJournal.h"
#include "station/line/ProgressCoalescer.h"
#include "station/model/DispenserView.h"

namespace quorlan::station {

class LineViews {
 public:
  LineViews(int channel, const std::vector<int>& dispensers, SettlementJournal& settlement,
            EventHub& hub);

  bool Has(int dispenser) const;
  std::vector<DispenserView> All() const;
  DispenserView View(int dispenser) const;
  // Takes the view when a client would notice the change, and announces it.
  void Publish(int dispenser, DispenserView view);
  // The progress held back whose window has ended.
  void PublishDue();
  // The worker's thread only: sets the view's open fill without announcing it.
  void ShowFill(int dispenser, const OpenFill& fill);

 private:
  int channel_;
  SettlementJournal& settlement_;
  EventHub& hub_;
  ProgressCoalescer progress_;
  mutable std::mutex mutex_;
  std::map<int, DispenserView> views_;  // the keys never change after construction
};

}  // namespace quorlan::station
