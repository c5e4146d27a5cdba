// SPDX-License-Identifier: Apache-2.0
#pragma once
// A fill as the journal's `fills` table holds it: the columns a query
// selects, the record read from a row, the status words the queries match,
// and the row handed to the change feed. Shared by the journals that read
// and write fills.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "station/journal/ChangeFeed.h"
#include "station/model/FillQuery.h"
#include "station/model/Records.h"
#include "station/sql/Sqlite.h"

namespace quorlan::station {

inline constexpr std::string_view kFillColumns =
    "id, channel, dispenser, nozzle, grade, price, limit_kind, limit_value, authorized_by, "
    "authorized_at, finished_at, volume, amount, shown_volume, shown_amount, recovered, status, "
    "requested_grade, filling, mismatch, settled_from, "
    "paid, paid_by, paid_at, reference, locked_by, locked_until";

// A row selected with kFillColumns; throws sql::Error on a word it does not know.
FillRecord ReadFill(const sql::Statement& row);

// How each stage of a fill is written in the status column. A pending row
// is not acknowledged yet and may still go: no query shows it.
const FillStatusWords& StoredStatus();
std::string StatusWord(FillStatus status);
std::string SettledWord(SettledFrom from);

std::optional<std::int64_t> OptionalNumber(const std::optional<int>& value);

// Hands the row as it now stands to the feed (none: nothing); under the
// write lock, in the transaction that changed it.
void FeedFill(sql::Database& db, ChangeFeed* feed, std::int64_t id);

}  // namespace quorlan::station
