// SPDX-License-Identifier: Apache-2.0
#pragma once
// The fleet's one topic namespace, quorlan/v1/{station}/..., and the kinds
// of record a station reports. Station and head office build and read every
// topic here, so the two never disagree.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlan::fleet {

// Every payload carries it; a reader refuses another.
inline constexpr int kSchemaVersion = 1;

// Records a station keeps in its outbox until head office has committed them.
enum class Kind { Fill, Shift, Alarm, PriceOutcome };

std::string_view KindName(Kind kind);
std::optional<Kind> KindFromName(std::string_view name);

// 1..64 of A-Z a-z 0-9 '-' '_': no topic wildcard or level separator fits.
bool ValidStationId(std::string_view station);

std::string RecordTopic(std::string_view station, Kind kind);
std::string PresenceTopic(std::string_view station);
std::string LiveTopic(std::string_view station, int channel, int dispenser);
std::string PriceCommandTopic(std::string_view station);
std::string ReceiptTopic(std::string_view station);

// A topic under the namespace split into the station and the levels after it.
struct TopicParts {
  std::string station;
  std::vector<std::string> rest;
};
std::optional<TopicParts> ParseTopic(std::string_view topic);

}  // namespace quorlan::fleet
