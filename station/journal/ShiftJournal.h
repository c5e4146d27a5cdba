// SPDX-License-Identifier: Apache-2.0
#pragma once
// The shifts: the open one with its nozzles' opening totals, and each closed
// one with the report it closed with, stored together with the fills it
// counted, its event and the next shift in one transaction.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "station/journal/Database.h"
#include "station/model/Records.h"
#include "station/model/ShiftReport.h"

namespace quorlan::station {

class ShiftJournal {
 public:
  explicit ShiftJournal(Database& database) : database_(database) {}

  // The open shift, opened now (at `openedAt`) when there is none yet.
  struct OpenShift {
    std::int64_t id = 0;
    std::string openedAt;
    std::vector<NozzleReading> opening;  // `open` set where read
    bool first = false;                  // opened by this call
  };
  OpenShift Current(const std::string& openedAt);
  // Opening totals of a shift, where none is stored yet.
  void SetOpeningTotals(std::int64_t shift, const std::vector<NozzleReading>& readings);

  struct Closing {
    std::int64_t shift = 0;
    std::string closedAt;
    std::string closedBy;
    std::vector<NozzleReading> readings;  // `close` set where the nozzle answered
  };
  // Closes the shift in one transaction: the fills ended by now join it,
  // `makeReport` turns them (with the opening totals and the station's
  // unpaid fills) into the report's JSON, which is stored with the event
  // (its data set here) and the next shift, opened with the closing totals.
  using MakeReport = std::function<std::string(const ShiftInput& input)>;
  std::string Close(const Closing& closing, const MakeReport& makeReport, StoredEvent& event);

  // Closed shifts' reports (JSON), oldest first.
  std::vector<std::string> Closed(std::int64_t after, int limit);
  std::optional<std::string> ClosedOne(std::int64_t id);

 private:
  static ShiftInput Counted(sql::Database& db, const Closing& closing);

  Database& database_;
};

}  // namespace quorlan::station
