// SPDX-License-Identifier: Apache-2.0
#pragma once
// The book's prices on one line: loaded into the driver from the database,
// downloaded to a dispenser as its table, or held back while a fill runs
// (the fill keeps the price it was authorized with) and after a download the
// line failed. It knows which table each dispenser holds: only one the
// dispenser acknowledged. No thread of its own: the line's worker calls it.

#include <array>
#include <map>
#include <optional>
#include <vector>

#include "quorlan/Driver.h"
#include "station/journal/Store.h"
#include "station/line/LineGate.h"
#include "station/model/Results.h"

namespace quorlan::station {

// The link failure a driver error code stands for.
Link LinkOf(std::uint32_t code);

class PriceSync {
 public:
  PriceSync(Driver& driver, LineGate& gate, Store& store, int channel,
            const std::vector<int>& dispensers);

  // The driver takes the dispenser's prices from the book.
  void Load(int dispenser);
  // Loads and sends the table; a failure on the line defers it.
  DownloadResult Download(int dispenser);
  void Defer(int dispenser);
  bool Deferred(int dispenser) const;
  // Sends a deferred table; none when nothing was deferred.
  std::optional<DownloadResult> SendDeferred(int dispenser);

  // Whether what the dispenser holds is known: its last table went out
  // acknowledged, or the book has no whole table to send (then the book's
  // prices are all there is). Not after a failed download, a power-up, or
  // before the first download of this run.
  bool Known(int dispenser) const;
  // The dispenser powered up: what it held is gone.
  void Forget(int dispenser);
  // The price the dispenser sells `grade` at: its acknowledged table for
  // grades 1..4, else the book's.
  std::optional<Cents> Charged(int dispenser, int grade) const;

 private:
  using Table = std::array<Cents, kTableGrades>;
  struct Held {
    bool known = false;
    std::optional<Table> table;  // none: the book has no whole table
  };

  Driver& driver_;
  LineGate& gate_;
  Store& store_;
  const int channel_;
  std::map<int, bool> deferred_;
  std::map<int, Held> held_;
};

}  // namespace quorlan::station
