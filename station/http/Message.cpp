// SPDX-License-Identifier: Apache-2.0
#include "station/http/Message.h"

#include <strings.h>

#include <array>
#include <boost/beast/http/status.hpp>
#include <ostream>

namespace quorlan::http {

namespace {

bool SameName(std::string_view key, std::string_view name) {
  return key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0;
}

// A number padded with zeros to `width` digits.
void Digits(std::string& out, unsigned value, std::size_t width = 2) {
  const auto digits = std::to_string(value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

}  // namespace

std::string_view FindHeader(const Headers& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return {};
}

bool HasHeader(const Headers& headers, std::string_view name) {
  for (const auto& header : headers) {
    if (SameName(header.first, name)) return true;
  }
  return false;
}

Response Problem(unsigned status, std::string_view detail) {
  const auto title = boost::beast::http::obsolete_reason(boost::beast::http::int_to_status(status));
  std::string body = "{\"type\":\"about:blank\",\"title\":\"";
  body.append(title.data(), title.size());
  body += "\",\"status\":" + std::to_string(status) + ",\"detail\":\"";
  // The details are the front door's own words: no quotes or controls to escape.
  body.append(detail);
  body += "\"}";
  return {status,
          {{"Content-Type", "application/problem+json"}, {"Cache-Control", "no-store"}},
          std::move(body)};
}

std::vector<std::string_view> ListItems(std::string_view value) {
  std::vector<std::string_view> items;
  while (!value.empty()) {
    const auto comma = value.find(',');
    auto item = value.substr(0, comma);
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

bool ListHolds(std::string_view value, std::string_view item) {
  for (const auto element : ListItems(value)) {
    if (SameName(element, item)) return true;
  }
  return false;
}

std::string HttpDate(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  static constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                            "Thu", "Fri", "Sat"};
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const auto day = floor<days>(when);
  const year_month_day date(day);
  const hh_mm_ss time(floor<seconds>(when - day));
  std::string text;
  text.reserve(29);
  text += kDays[weekday(day).c_encoding()];
  text += ", ";
  Digits(text, static_cast<unsigned>(date.day()));
  text += ' ';
  text += kMonths[static_cast<unsigned>(date.month()) - 1];
  text += ' ';
  Digits(text, static_cast<unsigned>(static_cast<int>(date.year())), 4);
  text += ' ';
  Digits(text, static_cast<unsigned>(time.hours().count()));
  text += ':';
  Digits(text, static_cast<unsigned>(time.minutes().count()));
  text += ':';
  Digits(text, static_cast<unsigned>(time.seconds().count()));
  text += " GMT";
  return text;
}

}  // namespace quorlan::http
