#pragma once
// What the simulated dispensers understand: which address byte belongs to
// which dispenser and which requests exist, by name. The numbers are the
// core's (link/Protocol.h), the limits the public API's (quorlan/Driver.h).

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "link/Protocol.h"
#include "quorlan/Driver.h"

namespace quorlan::sim {

using Bytes = std::vector<std::uint8_t>;

// The requests a dispenser answers; the command byte alone does not name
// one, its address (own or second) is part of it.
enum class Request : std::uint8_t {
  Status,           // requests::kStatus
  SubStatus,        // requests::kSubStatus: the lifted nozzle
  Release,          // requests::kRelease
  Stop,             // requests::kStop
  PriceTable,       // requests::kPriceTable: grades 1..4
  GradeOnePrice,    // requests::kGradeOnePrice
  Authorize,        // requests::kAuthorize
  PresetAuthorize,  // requests::kPresetAuthorize
  Totals,           // requests::kTotals: the nozzle selector
};
inline constexpr int kRequestKinds = 9;

std::string_view RequestName(Request request);
// Parses the names RequestName gives (case-insensitive).
std::optional<Request> ParseRequest(std::string_view name);

// Where an address byte points: dispenser 1..32 and which of its addresses.
struct Target {
  int dispenser = 0;
  bool second = false;
  friend bool operator==(const Target&, const Target&) = default;
};
// Own addresses are 0xF0..0xFF, 0x00..0x0F; second addresses 0xC0..0xDF.
std::optional<Target> DecodeAddress(std::uint8_t addressByte);

std::optional<Request> ClassifyRequest(bool second, std::uint8_t command);
// Number of data info bytes that follow the command byte.
int DataBytes(Request request);
// Info bytes of the reply.
int ReplyInfoBytes(Request request);

// Line bytes for info bytes: each followed by its one's complement.
Bytes EncodePairs(std::span<const std::uint8_t> info);
// Info bytes of line bytes whose every pair is good; nullopt otherwise.
std::optional<Bytes> DecodePairs(std::span<const std::uint8_t> line);

// For the names of requests and faults typed by people.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace quorlan::sim
