// SPDX-License-Identifier: Apache-2.0
#pragma once
// The fill journal's query: its parameters as a client writes them, checked
// one by one, and the SQL condition that selects them, with every value
// bound, never spliced.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "station/base/Instant.h"

namespace quorlan::station {

inline constexpr int kDefaultFillPage = 100;
inline constexpr int kMaxFillPage = 1000;

enum class FillStatusFilter : std::uint8_t { Completed, Cancelled, Open, All };

struct FillQuery {
  std::int64_t after = 0;
  int limit = kDefaultFillPage;
  std::optional<int> channel;
  std::optional<int> dispenser;
  std::optional<int> grade;
  FillStatusFilter status = FillStatusFilter::Completed;
  std::optional<bool> paid;
  std::optional<Instant> from;  // inclusive
  std::optional<Instant> to;    // exclusive
};

struct FillQueryError {
  std::string parameter;
  std::string detail;  // one sentence naming the parameter
};

// The query string's parameters as decoded; a name given twice is an error.
std::variant<FillQuery, FillQueryError> ParseFillQuery(
    const std::multimap<std::string, std::string>& parameters);

// How the journal writes each stage of a fill in its status column.
struct FillStatusWords {
  std::vector<std::string> completed;
  std::vector<std::string> cancelled;
  std::vector<std::string> open;
};

using SqlValue = std::variant<std::int64_t, std::string>;

struct SqlCondition {
  std::string where;             // "a = ? AND b >= ?", never empty ("1" at least)
  std::vector<SqlValue> values;  // bound to the ?s in order
};

// Selects the query's fills; the caller adds "ORDER BY id LIMIT ?". The
// time is the fill's end, or its authorization for a fill not ended, the
// same expression as the journal's time index.
SqlCondition FillCondition(const FillQuery& query, const FillStatusWords& words);

// The expression the time index is built on: a query must use it verbatim.
inline constexpr std::string_view kFillTimeExpression = "coalesce(finished_at, authorized_at)";

}  // namespace quorlan::station
