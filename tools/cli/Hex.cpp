#include "Hex.h"

#include <fmt/format.h>

namespace quorlan::cli {

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (auto b : bytes) {
    if (!text.empty()) text += ' ';
    text += fmt::format("{:02X}", b);
  }
  return text;
}

}  // namespace quorlan::cli
