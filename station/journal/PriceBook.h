// SPDX-License-Identifier: Apache-2.0
#pragma once
// The price book: a price per channel, dispenser and grade, each change
// stored with its event.

#include <vector>

#include "station/journal/Database.h"
#include "station/model/Records.h"

namespace quorlan::station {

class PriceBook {
 public:
  explicit PriceBook(Database& database) : database_(database) {}

  std::vector<PriceEntry> All();
  std::vector<PriceEntry> Of(int channel, int dispenser);
  // Stores the entries and their event in one transaction.
  void Save(const std::vector<PriceEntry>& entries, const StoredEvent& event);

 private:
  Database& database_;
};

}  // namespace quorlan::station
