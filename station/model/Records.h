// SPDX-License-Identifier: Apache-2.0
#pragma once
// The records the station keeps and passes around: a price of the book, a
// fill of the journal, an event of the log. Plain values: the database, the
// event log and the views all speak them without depending on each other.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "station/base/Money.h"
#include "station/model/Settlement.h"

namespace quorlan::station {

struct PriceEntry {
  int channel = 0;
  int dispenser = 0;
  int grade = 0;
  Cents price = 0;
  friend bool operator==(const PriceEntry&, const PriceEntry&) = default;
};

// pending: the authorization is being sent; open: acknowledged, or a fill
// seen without one; done: completed; cancelled: the authorization ended
// without fuel.
enum class FillStatus : std::uint8_t { Pending, Open, Done, Cancelled };

// What clients see of a fill while it runs: none of it is known for fuel
// nobody authorized but the row's id. A plain authorization's grade is only
// requested: the grade is the nozzle's, once the dispenser reports it.
struct OpenFill {
  std::int64_t id = 0;
  std::optional<int> grade;
  std::optional<Cents> price;
  FillLimit limit;
  std::optional<int> requestedGrade;
  friend bool operator==(const OpenFill&, const OpenFill&) = default;
};

// Where a completed fill's volume and amount come from: the dispenser's
// readout, the growth of the nozzle's totals (the display was lost), or the
// last figures seen while it ran (neither could be read).
enum class SettledFrom : std::uint8_t { Readout, Totals, LastSeen };

// A nozzle's volume and amount totals, in hundredths.
struct NozzleCounters {
  Cents volume = 0;
  Cents amount = 0;
};

struct FillRecord {
  std::int64_t id = 0;
  int channel = 0;
  int dispenser = 0;
  int nozzle = 0;
  std::optional<int> grade;
  std::optional<Cents> price;
  FillLimit limit;
  std::optional<std::string> authorizedBy;  // null: not authorized by us
  std::optional<std::string> authorizedAt;
  std::optional<std::string> finishedAt;
  Cents volume = 0;
  Cents amount = 0;
  // The display when the authorization was sent: tells after a crash whether
  // the dispenser ever took it.
  Cents shownVolume = 0;
  Cents shownAmount = 0;
  bool recovered = false;
  FillStatus status = FillStatus::Pending;
  std::optional<int> requestedGrade;  // what a plain authorization asked for
  bool filling = false;               // fuel was seen flowing
  bool mismatch = false;              // the amount is not price × volume
  SettledFrom settledFrom = SettledFrom::Readout;
  Settlement settlement;  // a completed fill's payment and lock
  // The idempotent request that authorized it: its repeat after a restart
  // learns from this row whether the authorization went out.
  std::optional<std::string> request;

  OpenFill Shown() const { return {id, grade, price, limit, requestedGrade}; }
};

struct StoredEvent {
  std::int64_t id = 0;
  std::string name;
  std::string data;  // one line of JSON
};

}  // namespace quorlan::station
