#pragma once
#include <cstdint>
#include <optional>

#include "commands/DriverState.h"

namespace quorlan {

struct PollResult {
  std::uint16_t code = 0;              // the host's state code
  std::optional<std::uint8_t> status;  // the reply's status byte, when a whole reply came
  // With ReplyDigits::Checked: the reply's volume or amount had a digit above
  // 9; nothing of it was stored (code 0, no status).
  bool badDigit = false;
};

// Status request 0xA1: stores volume and amount, returns the state code
// (0 when the link state is not good after the exchange).
PollResult PollDispenser(DriverState& s, std::uint32_t c, std::uint32_t d);
inline std::uint16_t PollStatus(DriverState& s, std::uint32_t c, std::uint32_t d) {
  return PollDispenser(s, c, d).code;
}

}  // namespace quorlan
