// SPDX-License-Identifier: Apache-2.0
#include "gauge/SecurityCode.h"

#include <fstream>
#include <stdexcept>

#include "gauge/Command.h"

namespace quorlan::gauge {

std::string ReadSecurityCodeFile(const std::string& path) {
  std::ifstream file(path);
  std::string code;
  if (!file || !std::getline(file, code)) throw std::invalid_argument("cannot be read");
  if (!code.empty() && code.back() == '\r') code.pop_back();
  if (!ValidSecurityCode(code)) {
    throw std::invalid_argument("not a security code (1 to 16 visible ASCII characters)");
  }
  return code;
}

}  // namespace quorlan::gauge
