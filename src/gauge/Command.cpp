// SPDX-License-Identifier: Apache-2.0
#include "gauge/Command.h"

#include <algorithm>
#include <stdexcept>

namespace quorlan::gauge {

bool ValidSecurityCode(std::string_view code) {
  return !code.empty() && code.size() <= kLongestSecurityCode &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::string TankDigits(int tank) {
  return {char('0' + tank / 10), char('0' + tank % 10)};
}

Command BuildCommand(Function function, Format format, int tank, std::string_view securityCode) {
  if (tank < kAllTanks || tank > kLastTank) {
    throw std::invalid_argument("a tank is 1 to 99 (0: every tank)");
  }
  if (!securityCode.empty() && !ValidSecurityCode(securityCode)) {
    throw std::invalid_argument("a security code is 1 to 16 visible ASCII characters");
  }
  const std::string body = LetterOf(format) + std::string(CodeOf(function)) + TankDigits(tank);
  Command command;
  command.bytes = kSoh + std::string(securityCode) + body;
  command.shown = kSoh + body;
  command.function = function;
  command.format = format;
  command.tank = tank;
  return command;
}

}  // namespace quorlan::gauge
