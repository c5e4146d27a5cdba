// SPDX-License-Identifier: Apache-2.0
#pragma once
// The life of the fills on one line, as the journal keeps it: a row opens
// before an authorization goes out (or when fuel nobody authorized is seen),
// counts once the dispenser took it, and ends completed with its readout or
// cancelled without fuel. Rows an earlier run left open are settled by the
// dispenser's first answers. No thread and no JSON of its own: the line's
// worker calls it with every reading.

#include <map>
#include <optional>
#include <vector>

#include "quorlan/Driver.h"
#include "station/EventHub.h"
#include "station/Records.h"
#include "station/Store.h"

namespace quorlan::station {

class FillTracker {
 public:
  FillTracker(Driver& driver, Store& store, EventHub& hub, int channel,
              const std::vector<int>& dispensers);

  // Takes the line's rows left open by an earlier run; returns the
  // dispensers that have one, in order.
  std::vector<int> Reconcile();

  // The pending or open row of a dispenser; nullptr when there is none.
  const FillRecord* Open(int dispenser) const;

  // Journals an authorization about to go out (pending until Acknowledge):
  // the row exists first, so that a crash in between cannot lose the fill.
  const FillRecord& Begin(FillRecord fill);
  // The dispenser took the authorization.
  void Acknowledge(int dispenser);
  // The authorization surely did not go out: its row goes.
  void Abandon(int dispenser);

  enum class Change : std::uint8_t { None, Opened, Ended };
  // Follows a reading; `volume` and `amount` are its display in cents. Says
  // whether a row opened (fuel nobody authorized) or ended.
  Change Track(int dispenser, const Status& status, Cents volume, Cents amount);

 private:
  struct Tracked {
    std::optional<FillRecord> fill;  // the pending or open journal row
    bool reconciling = false;        // the row is older than this start
    bool sawFuel = false;            // the row's fill was seen running
  };

  void Complete(int dispenser, Cents volume, Cents amount, int nozzle);
  void CloseWithoutFuel(int dispenser);
  void Forget(int dispenser);

  Driver& driver_;
  Store& store_;
  EventHub& hub_;
  const int channel_;
  std::map<int, Tracked> tracked_;
};

}  // namespace quorlan::station
