// SPDX-License-Identifier: Apache-2.0
#pragma once
// A command to the gauge: SOH, the security code when the console asks for
// one, the format letter, the function code and the tank. The code is a
// secret: what a log, a trace or a message shows is `shown`, without it.

#include <string>
#include <string_view>

#include "gauge/Protocol.h"

namespace quorlan::gauge {

struct Command {
  std::string bytes;  // what goes on the line
  std::string shown;  // the same without the security code
  Function function = Function::Inventory;
  Format format = Format::Computer;
  int tank = kAllTanks;
};

// A security code is 1..16 visible ASCII characters (the consoles take 6).
inline constexpr std::size_t kLongestSecurityCode = 16;
bool ValidSecurityCode(std::string_view code);

// std::invalid_argument for a tank outside 0..99 or a code that is not valid
// (an empty code sends none).
Command BuildCommand(Function function, Format format, int tank, std::string_view securityCode);

// The first two characters of a tank number: "00".."99".
std::string TankDigits(int tank);

}  // namespace quorlan::gauge
