#pragma once
// Line bytes as the trace shows them: "F0 0F A1 5E".

#include <cstdint>
#include <span>
#include <string>

namespace quorlan::cli {

std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace quorlan::cli
