// SPDX-License-Identifier: Apache-2.0
#pragma once
// The life of the fills on one line, as the journal keeps it: a row opens
// before an authorization goes out (or when fuel nobody authorized is seen),
// counts once the dispenser took it, learns the nozzle, grade and price the
// dispenser really uses as soon as it reports them, and ends completed with
// its readout or cancelled without fuel. A fill seen with fuel never ends
// fuelless: when its display is lost, the nozzle's totals settle it, else
// the last figures seen (with an alarm). Rows an earlier run left open are
// settled by the dispenser's first answers. No thread and no JSON of its
// own: the line's worker calls it with every reading.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "quorlan/Driver.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/line/LineGate.h"
#include "station/line/PriceSync.h"
#include "station/model/DispenserView.h"
#include "station/model/Records.h"

namespace quorlan::station {

class FillTracker {
 public:
  FillTracker(Driver& driver, LineGate& gate, Store& store, EventHub& hub, const PriceSync& prices,
              int channel, const std::vector<int>& dispensers);

  // Takes the line's rows left open by an earlier run; returns the
  // dispensers that have one, in order.
  std::vector<int> Reconcile();

  // The pending or open row of a dispenser; nullptr when there is none.
  const FillRecord* Open(int dispenser) const;

  // The totals of these nozzles, read now, as far as the dispenser answers.
  std::map<int, NozzleCounters> ReadTotals(int dispenser, const std::vector<int>& nozzles);

  // The row of an authorization by `by` about to go out, at the price the
  // dispenser's table holds; `shown` is its display then, which tells after
  // a crash whether the dispenser ever took it; `request`, the idempotent
  // request that sends it, is kept on the row.
  static FillRecord Pending(int channel, int dispenser, int grade, Cents price, FillLimit limit,
                            const std::string& by, const DispenserView& shown,
                            const std::optional<std::string>& request = std::nullopt);
  // Journals an authorization about to go out (pending until Acknowledge):
  // the row exists first, so that a crash in between cannot lose the fill.
  // `totals` are the nozzles' totals before it.
  const FillRecord& Begin(FillRecord fill, std::map<int, NozzleCounters> totals = {});
  // The dispenser took the authorization. Never throws: fuel may flow, so
  // the fill counts as open from now on; a database that cannot take it
  // now (another process's lock) gets it at the next reading.
  void Acknowledge(int dispenser);
  // The authorization surely did not go out: its row goes.
  void Abandon(int dispenser);

  // Opened: a row opened (fuel nobody authorized); Changed: the open row
  // learned its nozzle, grade, price or that fuel flows; Ended.
  enum class Change : std::uint8_t { None, Opened, Changed, Ended };
  // Follows a reading; `volume` and `amount` are its display in cents.
  Change Track(int dispenser, const Status& status, Cents volume, Cents amount);

 private:
  struct Tracked {
    std::optional<FillRecord> fill;  // the pending or open journal row
    bool reconciling = false;        // the row is older than this start
    bool unsavedAck = false;         // acknowledged, and the row still says pending
    // The highest display seen while it ran.
    Cents lastVolume = 0;
    Cents lastAmount = 0;
    std::map<int, NozzleCounters> totalsBefore;
  };

  // Writes a kept acknowledgement; false while the database refuses it.
  bool SaveAcknowledgement(Tracked& tracked);
  // The dispenser reports the nozzle in use: the fill sells its grade.
  bool LearnNozzle(int dispenser, int nozzle);
  // The nozzle whose totals grew by the fill's volume since it was
  // authorized, learned as if reported; else it stays unknown, and the log
  // says why.
  void NozzleFromTotals(int dispenser, Cents volume);
  // The display no longer shows the fill that ran.
  void SettleLost(int dispenser);
  void Complete(int dispenser, Cents volume, Cents amount, SettledFrom from);
  void CloseWithoutFuel(int dispenser);
  void Alarm(const FillRecord& fill, const std::string& kind, const std::string& detail);
  void Forget(int dispenser);

  Driver& driver_;
  LineGate& gate_;
  Store& store_;
  EventHub& hub_;
  const PriceSync& prices_;
  const int channel_;
  std::map<int, Tracked> tracked_;
};

}  // namespace quorlan::station
