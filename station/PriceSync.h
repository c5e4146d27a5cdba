// SPDX-License-Identifier: Apache-2.0
#pragma once
// The book's prices on one line: loaded into the driver from the database,
// downloaded to a dispenser as its table, or held back while a fill runs
// (the fill keeps the price it was authorized with) and after a download the
// line failed. No thread of its own: the line's worker calls it.

#include <map>
#include <optional>
#include <vector>

#include "quorlan/Driver.h"
#include "station/Results.h"
#include "station/Store.h"

namespace quorlan::station {

// The link failure a driver error code stands for.
Link LinkOf(std::uint32_t code);

class PriceSync {
 public:
  PriceSync(Driver& driver, Store& store, int channel, const std::vector<int>& dispensers);

  // The driver takes the dispenser's prices from the book.
  void Load(int dispenser);
  // Loads and sends the table; a failure on the line defers it.
  DownloadResult Download(int dispenser);
  void Defer(int dispenser);
  bool Deferred(int dispenser) const;
  // Sends a deferred table; none when nothing was deferred.
  std::optional<DownloadResult> SendDeferred(int dispenser);

 private:
  Driver& driver_;
  Store& store_;
  const int channel_;
  std::map<int, bool> deferred_;
};

}  // namespace quorlan::station
