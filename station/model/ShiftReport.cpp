// SPDX-License-Identifier: Apache-2.0
#include "station/model/ShiftReport.h"

#include <algorithm>

namespace quorlan::station {

namespace {

// What a totalizer counted from `open` to `close`.
Cents Counted(Cents open, Cents close, Cents wrap) {
  const Cents counted = close - open;
  return counted < 0 && wrap > 0 ? counted + wrap : counted;
}

void Add(SalesLine& line, const Totals& sold) {
  ++line.count;
  line.sold.volume += sold.volume;
  line.sold.amount += sold.amount;
}

}  // namespace

ShiftReport BuildShiftReport(const ShiftInput& input) {
  ShiftReport report;
  report.id = input.id;
  report.openedAt = input.openedAt;
  report.closedAt = input.closedAt;
  report.closedBy = input.closedBy;
  report.currency = input.currency;
  report.unpaidCount = input.unpaidCount;
  report.unpaidAmount = input.unpaidAmount;

  // Ordered maps: the report lists grades, dispensers and nozzles in order.
  std::map<std::optional<int>, SalesLine> grades;
  std::map<std::pair<int, int>, SalesLine> dispensers;
  std::map<NozzleId, Totals> journal;
  for (const ShiftFill& fill : input.fills) {
    if (fill.cancelled) {
      ++report.cancelled;
      continue;
    }
    Add(report.fills, fill.sold);
    Add(grades[fill.grade], fill.sold);
    Add(dispensers[{fill.nozzle.channel, fill.nozzle.dispenser}], fill.sold);
    Totals& delivered = journal[fill.nozzle];
    delivered.volume += fill.sold.volume;
    delivered.amount += fill.sold.amount;
  }
  for (const auto& [grade, sales] : grades) {
    std::optional<std::string> name;
    if (grade) {
      if (const auto known = input.gradeNames.find(*grade); known != input.gradeNames.end()) {
        name = known->second;
      }
    }
    report.byGrade.push_back({grade, name, sales});
  }
  for (const auto& [where, sales] : dispensers) {
    report.byDispenser.push_back({where.first, where.second, sales});
  }

  std::vector<NozzleReading> readings = input.nozzles;
  std::sort(readings.begin(), readings.end(),
            [](const NozzleReading& a, const NozzleReading& b) { return a.nozzle < b.nozzle; });
  for (const NozzleReading& reading : readings) {
    NozzleBalance balance;
    balance.nozzle = reading.nozzle;
    balance.grade = reading.nozzle.nozzle;
    balance.open = reading.open;
    balance.close = reading.close;
    if (const auto sold = journal.find(reading.nozzle); sold != journal.end()) {
      balance.journal = sold->second;
    }
    if (reading.open && reading.close) {
      balance.difference =
          Totals{Counted(reading.open->volume, reading.close->volume, input.wrap.volume) -
                     balance.journal.volume,
                 Counted(reading.open->amount, reading.close->amount, input.wrap.amount) -
                     balance.journal.amount};
    }
    if (!reading.close) report.unanswered.push_back(reading.nozzle);
    report.nozzles.push_back(balance);
  }
  return report;
}

std::vector<NozzleBalance> Discrepancies(const ShiftReport& report) {
  std::vector<NozzleBalance> found;
  for (const NozzleBalance& balance : report.nozzles) {
    if (balance.difference && !(*balance.difference == Totals{})) found.push_back(balance);
  }
  return found;
}

}  // namespace quorlan::station
