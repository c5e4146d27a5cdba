#pragma once
// Scripted misbehaviour of a dispenser, per request kind.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quorlan::sim {

enum class FaultKind : std::uint8_t {
  NoReply,          // the request is lost: nothing happens, nothing comes back
  WrongComplement,  // the last pair's complement is off by one bit
  ShortReply,       // the reply is cut to `length` line bytes (default: one byte less)
  BadDigit,         // the reply's first decimal field gets 0xA in its high nibble
  LateReply,        // the reply comes `delay` late
  StatusByte,       // the status (or sub-status) byte is replaced by `statusByte`
};

std::string_view FaultName(FaultKind kind);
std::optional<FaultKind> ParseFault(std::string_view name);

struct Fault {
  FaultKind kind = FaultKind::NoReply;
  bool persistent = false;  // else it strikes once
  std::uint8_t statusByte = 0;
  std::optional<int> length;              // ShortReply: line bytes kept
  std::chrono::milliseconds delay{1000};  // LateReply
};

}  // namespace quorlan::sim
