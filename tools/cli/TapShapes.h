// SPDX-License-Identifier: Apache-2.0
#pragma once
// What a listener on the line can tell from the bytes alone: which dispenser
// an address byte names, which request a command byte is there, how long its
// frame and reply are, and what its fields and its reply's fields say.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/Protocol.h"

namespace quorlan::cli::tap {

using Bytes = std::vector<std::uint8_t>;

inline constexpr int kDispensers = 32;

struct RequestKind {
  std::string_view name;
  RequestShape shape;
};

// The dispenser an address byte names, and whether it is its second address.
struct Addressee {
  int dispenser = 0;
  bool second = false;
};
std::optional<Addressee> DecodeAddress(std::uint8_t addressByte);
const RequestKind* FindRequest(bool second, std::uint8_t command);

// Line bytes of a request frame: address and command pairs, then data pairs.
inline constexpr int FrameLength(const RequestKind& kind) {
  return 2 * (2 + kind.shape.dataBytes);
}

// A named value of a frame, as people read it ("price" = "52.90").
using Field = std::pair<std::string, std::string>;
// The request's data fields; info holds the frame's info bytes, address first.
std::vector<Field> RequestFields(const RequestKind& kind, std::span<const std::uint8_t> info);
// A good reply's fields (info bytes).
std::vector<Field> ReplyFields(const RequestKind& kind, std::span<const std::uint8_t> info);
// The state a status byte means ("idle", "filling"), or its hex when unknown.
std::string StatusName(std::uint8_t status);

// Index of the first pair whose second byte is not the complement of the
// first, or nothing when all pairs are good (an odd last byte is not checked).
std::optional<std::size_t> BrokenPair(std::span<const std::uint8_t> line);
// The info bytes of line bytes (every other byte).
Bytes InfoBytes(std::span<const std::uint8_t> line);

}  // namespace quorlan::cli::tap
