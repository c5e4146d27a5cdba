// SPDX-License-Identifier: Apache-2.0
// A shift's report from its fills and its nozzles' totals, and its CSV.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "station/format/ShiftCsv.h"
#include "station/model/ShiftReport.h"

namespace quorlan::station {
namespace {

ShiftFill Sold(int dispenser, int nozzle, Cents volume, Cents amount) {
  return {{1, dispenser, nozzle}, nozzle, {volume, amount}, false};
}

// Two dispensers of two nozzles; three fills, one cancelled authorization.
ShiftInput OrdinaryShift() {
  ShiftInput input;
  input.id = 4;
  input.currency = "EUR";
  input.gradeNames = {{1, "Diesel"}, {2, "Super 95"}};
  input.fills = {Sold(1, 1, 1000, 52900),
                 Sold(1, 1, 250, 13225),
                 Sold(2, 2, 500, 27450),
                 {{1, 2, 1}, 1, {}, true}};
  input.nozzles = {{{1, 2, 2}, Totals{100, 5000}, Totals{600, 32450}},
                   {{1, 1, 1}, Totals{10000, 529000}, Totals{11250, 595125}},
                   {{1, 1, 2}, Totals{0, 0}, Totals{0, 0}},
                   {{1, 2, 1}, Totals{7, 7}, Totals{7, 7}}};
  input.unpaidCount = 2;
  input.unpaidAmount = 40675;
  return input;
}

TEST(ShiftReport, OrdinaryFillsBalanceEveryNozzle) {
  const ShiftReport report = BuildShiftReport(OrdinaryShift());
  EXPECT_EQ(report.fills, (SalesLine{3, {1750, 93575}}));
  EXPECT_EQ(report.cancelled, 1);
  EXPECT_EQ(report.unpaidCount, 2);
  ASSERT_EQ(report.byGrade.size(), 2U);
  EXPECT_EQ(report.byGrade[0].name, "Diesel");
  EXPECT_EQ(report.byGrade[0].sales, (SalesLine{2, {1250, 66125}}));
  EXPECT_EQ(report.byGrade[1].name, "Super 95");
  ASSERT_EQ(report.byDispenser.size(), 2U);
  EXPECT_EQ(report.byDispenser[1].sales, (SalesLine{1, {500, 27450}}));
  ASSERT_EQ(report.nozzles.size(), 4U);
  EXPECT_EQ(report.nozzles[0].nozzle, (NozzleId{1, 1, 1}));  // sorted
  EXPECT_EQ(report.nozzles[0].journal, (Totals{1250, 66125}));
  for (const NozzleBalance& nozzle : report.nozzles) {
    ASSERT_TRUE(nozzle.difference);
    EXPECT_EQ(*nozzle.difference, Totals{});
    EXPECT_EQ(nozzle.grade, nozzle.nozzle.nozzle);
  }
  EXPECT_TRUE(Discrepancies(report).empty());
  EXPECT_TRUE(report.unanswered.empty());
}

TEST(ShiftReport, FuelWithoutASaleIsADifferenceAndASilentNozzleIsNamed) {
  ShiftInput input = OrdinaryShift();
  input.nozzles[2].close = Totals{300, 15870};     // 3 litres left nozzle 1/2 unjournaled
  input.nozzles[1].close = Totals{11000, 581900};  // a journaled sale the pump never delivered
  input.nozzles[0].close.reset();                  // 1/2/2 did not answer
  input.nozzles[3].open.reset();                   // nor did 1/2/1 at the opening
  const ShiftReport report = BuildShiftReport(input);
  const auto found = Discrepancies(report);
  ASSERT_EQ(found.size(), 2U);
  EXPECT_EQ(found[0].nozzle, (NozzleId{1, 1, 1}));
  EXPECT_EQ(*found[0].difference, (Totals{-250, -13225}));
  EXPECT_EQ(found[1].nozzle, (NozzleId{1, 1, 2}));
  EXPECT_EQ(*found[1].difference, (Totals{300, 15870}));
  EXPECT_EQ(report.unanswered, (std::vector<NozzleId>{{1, 2, 2}}));
  EXPECT_FALSE(report.nozzles[2].difference);  // 1/2/1: no opening totals
  EXPECT_FALSE(report.nozzles[3].difference);  // 1/2/2: no closing totals
}

TEST(ShiftReport, ATotalizerThatRollsOverStillBalances) {
  ShiftInput input = OrdinaryShift();
  input.wrap = {10'000'000'000, 1'000'000'000'000};
  input.nozzles[1].open = Totals{9'999'999'900, 999'999'999'000};  // 1/1/1, just before zero
  input.nozzles[1].close = Totals{1150, 65125};
  const ShiftReport report = BuildShiftReport(input);
  EXPECT_EQ(report.nozzles[0].difference, Totals{});
  EXPECT_TRUE(Discrepancies(report).empty());
}

TEST(ShiftCsv, OneRowPerNozzleWithTwoDecimalsAndNoFormulas) {
  const nlohmann::json report = {{"id", 4},
                                 {"opened_at", "2026-12-07T06:00:00+01:00"},
                                 {"closed_at", "2026-12-07T14:00:00+01:00"},
                                 {"closed_by", "=HYPERLINK(\"x\")"},
                                 {"currency", "EUR"},
                                 {"nozzles",
                                  {{{"channel", 1},
                                    {"dispenser", 2},
                                    {"nozzle", 1},
                                    {"grade", 1},
                                    {"totals_open", {{"volume", 1.0}, {"amount", 52.9}}},
                                    {"totals_close", {{"volume", 3.5}, {"amount", 185.15}}},
                                    {"journal", {{"volume", 2.5}, {"amount", 132.25}}},
                                    {"difference", {{"volume", 0.0}, {"amount", 0.0}}}},
                                   {{"channel", 1},
                                    {"dispenser", 2},
                                    {"nozzle", 2},
                                    {"grade", 2},
                                    {"totals_open", {{"volume", 0.0}, {"amount", 0.0}}},
                                    {"totals_close", nullptr},
                                    {"journal", {{"volume", 0.0}, {"amount", 0.0}}},
                                    {"difference", nullptr}}}}};
  EXPECT_EQ(ShiftCsv(report),
            "id,opened_at,closed_at,closed_by,currency,channel,dispenser,nozzle,grade,"
            "totals_open.volume,totals_open.amount,totals_close.volume,totals_close.amount,"
            "journal.volume,journal.amount,difference.volume,difference.amount\r\n"
            "4,2026-12-07T06:00:00+01:00,2026-12-07T14:00:00+01:00,\"'=HYPERLINK(\"\"x\"\")\",EUR,"
            "1,2,1,1,1.00,52.90,3.50,185.15,2.50,132.25,0.00,0.00\r\n"
            "4,2026-12-07T06:00:00+01:00,2026-12-07T14:00:00+01:00,\"'=HYPERLINK(\"\"x\"\")\",EUR,"
            "1,2,2,2,0.00,0.00,,,0.00,0.00,,\r\n");
}

TEST(ShiftCsv, CellsThatASpreadsheetWouldRunBecomeText) {
  const struct {
    const char* text;
    const char* cell;
  } cases[] = {{"pos-1", "pos-1"},
               {"=1+2", "'=1+2"},
               {"+49 30", "'+49 30"},
               {"-2+3", "'-2+3"},
               {"@SUM(A1)", "'@SUM(A1)"},
               {"\tx", "'\tx"},
               {"a,b", "\"a,b\""},
               {"say \"hi\"", "\"say \"\"hi\"\"\""},
               {"two\nlines", "\"two\nlines\""}};
  for (const auto& c : cases) EXPECT_EQ(CsvCell(c.text), c.cell) << c.text;
}

}  // namespace
}  // namespace quorlan::station
