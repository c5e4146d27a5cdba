// SPDX-License-Identifier: Apache-2.0
#include "station/model/FillQuery.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "quorlan/Driver.h"

namespace quorlan::station {

namespace {

// The ranges the journal can hold; anything outside names nothing.
constexpr int kLastChannel = 32;
constexpr int kLastDispenser = 32;

constexpr std::array<std::string_view, 9> kKnown{"after",  "limit", "channel", "dispenser", "grade",
                                                 "status", "paid",  "from",    "to"};

struct Bad {
  FillQueryError error;
};

template <typename T>
T Integer(const std::string& name, const std::string& text, T low, T high) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    throw Bad{{name, fmt::format("'{}' must be an integer {}..{}", name, low, high)}};
  }
  return value;
}

FillStatusFilter Status(const std::string& text) {
  if (text == "completed") return FillStatusFilter::Completed;
  if (text == "cancelled") return FillStatusFilter::Cancelled;
  if (text == "open") return FillStatusFilter::Open;
  if (text == "all") return FillStatusFilter::All;
  throw Bad{{"status", "'status' must be completed, cancelled, open or all"}};
}

bool Paid(const std::string& text) {
  if (text == "true") return true;
  if (text == "false") return false;
  throw Bad{{"paid", "'paid' must be true or false"}};
}

Instant Time(const std::string& name, const std::string& text) {
  const auto instant = ParseRfc3339(text);
  if (!instant) {
    throw Bad{{name, fmt::format("'{}' must be an RFC 3339 time with an offset, like "
                                 "2026-12-07T06:00:00+01:00",
                                 name)}};
  }
  return *instant;
}

void AddWords(SqlCondition& condition, const std::vector<std::string>& words) {
  if (words.size() == 1) {
    // One word keeps the status index's order by id.
    condition.where += " AND status = ?";
  } else {
    std::string marks;
    for (std::size_t i = 0; i < words.size(); ++i) marks += i == 0 ? "?" : ", ?";
    condition.where += " AND status IN (" + marks + ")";
  }
  for (const auto& word : words) condition.values.emplace_back(word);
}

}  // namespace

std::variant<FillQuery, FillQueryError> ParseFillQuery(
    const std::multimap<std::string, std::string>& parameters) {
  FillQuery query;
  try {
    for (const auto& [name, text] : parameters) {
      if (std::find(kKnown.begin(), kKnown.end(), name) == kKnown.end()) {
        throw Bad{{name, fmt::format("unknown parameter '{}'", name)}};
      }
      if (parameters.count(name) > 1) {
        throw Bad{{name, fmt::format("'{}' is given more than once", name)}};
      }
      if (name == "after") {
        query.after =
            Integer<std::int64_t>(name, text, 0, std::numeric_limits<std::int64_t>::max());
      } else if (name == "limit") {
        query.limit = Integer(name, text, 1, kMaxFillPage);
      } else if (name == "channel") {
        query.channel = Integer(name, text, 1, kLastChannel);
      } else if (name == "dispenser") {
        query.dispenser = Integer(name, text, 1, kLastDispenser);
      } else if (name == "grade") {
        query.grade = Integer(name, text, 1, int{kLastGrade});
      } else if (name == "status") {
        query.status = Status(text);
      } else if (name == "paid") {
        query.paid = Paid(text);
      } else if (name == "from") {
        query.from = Time(name, text);
      } else if (name == "to") {
        query.to = Time(name, text);
      }
    }
  } catch (const Bad& bad) {
    return bad.error;
  }
  return query;
}

SqlCondition FillCondition(const FillQuery& query, const FillStatusWords& words) {
  SqlCondition condition{"id > ?", {query.after}};
  switch (query.status) {
    case FillStatusFilter::Completed:
      AddWords(condition, words.completed);
      break;
    case FillStatusFilter::Cancelled:
      AddWords(condition, words.cancelled);
      break;
    case FillStatusFilter::Open:
      AddWords(condition, words.open);
      break;
    case FillStatusFilter::All: {
      std::vector<std::string> every = words.completed;
      every.insert(every.end(), words.cancelled.begin(), words.cancelled.end());
      every.insert(every.end(), words.open.begin(), words.open.end());
      AddWords(condition, every);
      break;
    }
  }
  const auto equal = [&](std::string_view column, std::optional<std::int64_t> value) {
    if (!value) return;
    condition.where += fmt::format(" AND {} = ?", column);
    condition.values.emplace_back(*value);
  };
  equal("channel", query.channel);
  equal("dispenser", query.dispenser);
  equal("grade", query.grade);
  if (query.paid) equal("paid", *query.paid ? 1 : 0);
  if (query.from) {
    condition.where += fmt::format(" AND {} >= ?", kFillTimeExpression);
    condition.values.emplace_back(FormatUtc(*query.from));
  }
  if (query.to) {
    condition.where += fmt::format(" AND {} < ?", kFillTimeExpression);
    condition.values.emplace_back(FormatUtc(*query.to));
  }
  return condition;
}

}  // namespace quorlan::station
