// SPDX-License-Identifier: Apache-2.0
#pragma once
// Reads the gauge's replies. A computer-format reply must carry a checksum
// that holds, echo the function and tank that were asked, state a valid time
// and hold whole records; every number must be finite, and volumes, heights
// and water not negative. Anything else is a bad reply, with its reason, and
// nothing of it is taken.

#include <string>
#include <string_view>
#include <variant>

#include "gauge/Command.h"
#include "gauge/Readings.h"

namespace quorlan::gauge {

struct BadReply {
  std::string reason;  // a few words: "wrong checksum", "tank 02 answered for 01"
};

template <typename T>
using Parsed = std::variant<T, BadReply>;

template <typename T>
const BadReply* ProblemOf(const Parsed<T>& parsed) {
  return std::get_if<BadReply>(&parsed);
}

// The data between the clock and "&&" of a computer-format reply to `command`.
struct ReplyBody {
  GaugeTime time;
  std::string_view data;
};
Parsed<ReplyBody> OpenComputerReply(std::string_view frame, const Command& command);

// `frame` is one whole frame, SOH through ETX, in the console's units.
// Inventory reads either format (the command's); the others only computer.
Parsed<Inventory> ParseInventory(std::string_view frame, const Command& command);
Parsed<DeliveryReport> ParseDeliveries(std::string_view frame, const Command& command);
Parsed<AlarmReport> ParseAlarms(std::string_view frame, const Command& command);

}  // namespace quorlan::gauge
