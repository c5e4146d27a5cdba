// SPDX-License-Identifier: Apache-2.0
#include "Topics.h"

#include <array>
#include <utility>

namespace quorlan::fleet {

namespace {

constexpr std::string_view kRoot = "quorlan/v1/";
constexpr std::size_t kLongestStationId = 64;

constexpr std::array<std::pair<Kind, std::string_view>, 4> kKindNames{{
    {Kind::Fill, "fill"},
    {Kind::Shift, "shift"},
    {Kind::Alarm, "alarm"},
    {Kind::PriceOutcome, "price-outcome"},
}};

std::string Under(std::string_view station, std::string_view rest) {
  std::string topic(kRoot);
  topic.append(station).append("/").append(rest);
  return topic;
}

}  // namespace

std::string_view KindName(Kind kind) {
  for (const auto& [each, name] : kKindNames) {
    if (each == kind) return name;
  }
  return "fill";
}

std::optional<Kind> KindFromName(std::string_view name) {
  for (const auto& [kind, each] : kKindNames) {
    if (each == name) return kind;
  }
  return std::nullopt;
}

bool ValidStationId(std::string_view station) {
  if (station.empty() || station.size() > kLongestStationId) return false;
  for (const char c : station) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '-' && c != '_') return false;
  }
  return true;
}

std::string RecordTopic(std::string_view station, Kind kind) {
  return Under(station, KindName(kind));
}

std::string PresenceTopic(std::string_view station) {
  return Under(station, "presence");
}

std::string LiveTopic(std::string_view station, int channel, int dispenser) {
  return Under(station, "live/" + std::to_string(channel) + "/" + std::to_string(dispenser));
}

std::string PriceCommandTopic(std::string_view station) {
  return Under(station, "cmd/prices");
}

std::string ReceiptTopic(std::string_view station) {
  return Under(station, "receipt");
}

std::optional<TopicParts> ParseTopic(std::string_view topic) {
  if (!topic.starts_with(kRoot)) return std::nullopt;
  topic.remove_prefix(kRoot.size());
  TopicParts parts;
  bool first = true;
  while (true) {
    const auto slash = topic.find('/');
    const std::string_view level = topic.substr(0, slash);
    if (first) {
      parts.station = std::string(level);
      first = false;
    } else {
      parts.rest.emplace_back(level);
    }
    if (slash == std::string_view::npos) break;
    topic.remove_prefix(slash + 1);
  }
  if (!ValidStationId(parts.station) || parts.rest.empty()) return std::nullopt;
  return parts;
}

}  // namespace quorlan::fleet
