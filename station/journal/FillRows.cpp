// SPDX-License-Identifier: Apache-2.0
#include "station/journal/FillRows.h"

#include "station/base/Instant.h"
#include "station/model/Words.h"

namespace quorlan::station {

namespace {

std::optional<Instant> OptionalInstant(const sql::Statement& row, int column) {
  const auto text = row.OptionalText(column);
  return text ? ParseRfc3339(*text) : std::nullopt;
}

FillStatus ParseStatus(const std::string& word) {
  if (const auto status = kStoredStatusWords.Parse(word)) return *status;
  throw sql::Error("unknown fill status " + word);
}

SettledFrom ParseSettled(const std::string& word) {
  if (const auto from = kSettledWords.Parse(word)) return *from;
  throw sql::Error("unknown fill source " + word);
}

}  // namespace

const FillStatusWords& StoredStatus() {
  static const FillStatusWords words{{StatusWord(FillStatus::Done)},
                                     {StatusWord(FillStatus::Cancelled)},
                                     {StatusWord(FillStatus::Open)}};
  return words;
}

std::string StatusWord(FillStatus status) {
  return std::string(kStoredStatusWords.Word(status));
}

std::string SettledWord(SettledFrom from) {
  return std::string(kSettledWords.Word(from));
}

std::optional<std::int64_t> OptionalNumber(const std::optional<int>& value) {
  return value ? std::optional<std::int64_t>(*value) : std::nullopt;
}

FillRecord ReadFill(const sql::Statement& row) {
  FillRecord fill;
  fill.id = row.Integer(0);
  fill.channel = static_cast<int>(row.Integer(1));
  fill.dispenser = static_cast<int>(row.Integer(2));
  fill.nozzle = static_cast<int>(row.Integer(3));
  if (!row.IsNull(4)) fill.grade = static_cast<int>(row.Integer(4));
  fill.price = row.OptionalInteger(5);
  fill.limit = {ParseKind(row.Text(6)), row.Integer(7)};
  fill.authorizedBy = row.OptionalText(8);
  fill.authorizedAt = row.OptionalText(9);
  fill.finishedAt = row.OptionalText(10);
  fill.volume = row.Integer(11);
  fill.amount = row.Integer(12);
  fill.shownVolume = row.Integer(13);
  fill.shownAmount = row.Integer(14);
  fill.recovered = row.Integer(15) != 0;
  fill.status = ParseStatus(row.Text(16));
  if (!row.IsNull(17)) fill.requestedGrade = static_cast<int>(row.Integer(17));
  fill.filling = row.Integer(18) != 0;
  fill.mismatch = row.Integer(19) != 0;
  fill.settledFrom = ParseSettled(row.Text(20));
  fill.settlement.paid = row.Integer(21) != 0;
  fill.settlement.paidBy = row.OptionalText(22);
  fill.settlement.paidAt = OptionalInstant(row, 23);
  fill.settlement.reference = row.OptionalText(24);
  fill.settlement.lockedBy = row.OptionalText(25);
  fill.settlement.lockedUntil = OptionalInstant(row, 26);
  return fill;
}

void FeedFill(sql::Database& db, ChangeFeed* feed, std::int64_t id) {
  if (!feed) return;
  auto query = db.Prepare("SELECT " + std::string(kFillColumns) + " FROM fills WHERE id = ?");
  query.Bind(1, id);
  if (!query.Step()) return;
  const FillRecord fill = ReadFill(query);
  if (fill.status != FillStatus::Pending) feed->Fill(db, fill);
}

}  // namespace quorlan::station
