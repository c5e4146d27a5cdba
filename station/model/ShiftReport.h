// SPDX-License-Identifier: Apache-2.0
#pragma once
// A shift's report: what the journal sold, by grade and by dispenser, and
// per nozzle what the pump's own totals say it delivered. A pure function of
// the shift's fills and the totals read at its opening and its close.

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "station/base/Money.h"

namespace quorlan::station {

struct Totals {
  Cents volume = 0;
  Cents amount = 0;
  friend bool operator==(const Totals&, const Totals&) = default;
};

struct NozzleId {
  int channel = 0;
  int dispenser = 0;
  int nozzle = 0;
  friend auto operator<=>(const NozzleId&, const NozzleId&) = default;
};

// A fill as the report counts it.
struct ShiftFill {
  NozzleId nozzle;
  std::optional<int> grade;
  Totals sold;
  bool cancelled = false;
};

// A configured nozzle's totals; nullopt where it did not answer.
struct NozzleReading {
  NozzleId nozzle;
  std::optional<Totals> open;
  std::optional<Totals> close;
};

struct ShiftInput {
  std::int64_t id = 0;
  std::string openedAt;
  std::string closedAt;
  std::string closedBy;
  std::string currency;
  std::map<int, std::string> gradeNames;
  std::vector<ShiftFill> fills;        // the shift's completed and cancelled fills
  std::vector<NozzleReading> nozzles;  // every configured nozzle
  // Where a totalizer rolls over to zero; zero: it never does.
  Totals wrap;
  // Every completed unpaid fill of the station at the close, whatever its shift.
  int unpaidCount = 0;
  Cents unpaidAmount = 0;
};

struct SalesLine {
  int count = 0;
  Totals sold;
  friend bool operator==(const SalesLine&, const SalesLine&) = default;
};

struct GradeSales {
  std::optional<int> grade;  // nullopt: fills whose grade is unknown
  std::optional<std::string> name;
  SalesLine sales;
};

struct DispenserSales {
  int channel = 0;
  int dispenser = 0;
  SalesLine sales;
};

struct NozzleBalance {
  NozzleId nozzle;
  int grade = 0;  // nozzle n sells grade n
  std::optional<Totals> open;
  std::optional<Totals> close;
  Totals journal;
  // (close - open) - journal, a rollover between counted once; nullopt when
  // either reading is missing.
  std::optional<Totals> difference;
};

struct ShiftReport {
  std::int64_t id = 0;
  std::string openedAt;
  std::string closedAt;
  std::string closedBy;
  std::string currency;
  SalesLine fills;
  std::vector<GradeSales> byGrade;
  std::vector<DispenserSales> byDispenser;
  int unpaidCount = 0;
  Cents unpaidAmount = 0;
  int cancelled = 0;
  std::vector<NozzleBalance> nozzles;
  std::vector<NozzleId> unanswered;  // nozzles without closing totals
};

ShiftReport BuildShiftReport(const ShiftInput& input);

// The nozzles whose difference is not zero: each one is a discrepancy.
std::vector<NozzleBalance> Discrepancies(const ShiftReport& report);

}  // namespace quorlan::station
