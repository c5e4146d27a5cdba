#pragma once
// The wire protocol, named once: frames, addresses, the requests a dispenser
// answers with their data and reply sizes, the reply layouts and the status
// bytes. The core, the simulator and the tests all take their numbers here.

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace quorlan {

// Every info byte on the line is followed by its one's complement.
inline constexpr std::uint8_t kComplement = 0xFF;
// The address byte of sub-address a is (a - kAddressBias) mod 256.
inline constexpr int kAddressBias = 0x11;
// A dispenser's second address (nozzle sub-status, release, price table).
inline constexpr int kSecondAddressOffset = 208;

constexpr std::uint8_t AddressByte(int subAddress) {
  return static_cast<std::uint8_t>((subAddress - kAddressBias) & 0xFF);
}
// The line's setting and speed are the dispatcher's (quorlan/PortDispatcher.h).

// Data info bytes one request may carry.
inline constexpr int kMaxRequestData = 125;

// One request: its command byte, the address it goes to, the data info bytes
// after the command and the info bytes of the reply.
struct RequestShape {
  std::uint8_t command;
  bool secondAddress;
  int dataBytes;
  int replyInfoBytes;
  // The reply's length on the line: each info byte with its complement.
  constexpr std::uint8_t ReplyLength() const {
    return static_cast<std::uint8_t>(2 * replyInfoBytes);
  }
};

namespace requests {
inline constexpr RequestShape kStatus{0xA1, false, 0, 9};
inline constexpr RequestShape kSubStatus{0xA1, true, 0, 1};
inline constexpr RequestShape kRelease{0xA2, true, 0, 1};
inline constexpr RequestShape kStop{0xA3, false, 0, 1};
inline constexpr RequestShape kPriceTable{0xA3, true, 16, 1};  // grades 1..4, 4 bytes each
inline constexpr RequestShape kGradeOnePrice{0xA6, false, 8, 2};
inline constexpr RequestShape kAuthorize{0xA4, false, 0, 1};
inline constexpr RequestShape kPresetAuthorize{0xA5, false, 9, 2};
inline constexpr RequestShape kTotals{0xA9, false, 1, 11};  // data: the nozzle selector
}  // namespace requests
inline constexpr int kPriceTableGrades = 4;

// Status reply info bytes: money amount 2..4 and volume 5..7, least
// significant first, then the status byte.
inline constexpr int kStatusAmountByte = 2;
inline constexpr int kStatusVolumeByte = 5;
inline constexpr int kStatusByteIndex = 8;
// Sub-status reply: the lifted nozzle in the low bits of info byte 0.
inline constexpr std::uint8_t kSubStatusNozzleMask = 0x07;
// Totals: the selector of nozzle n is kTotalsSelectorBase + 2 (n - 1); the
// reply carries the volume total in info bytes 0..4 and the money total in
// 5..10, least significant first.
inline constexpr std::uint8_t kTotalsSelectorBase = 0x40;
inline constexpr int kTotalsVolumeFirst = 0, kTotalsVolumeLast = 4;
inline constexpr int kTotalsAmountFirst = 5, kTotalsAmountLast = 10;

// Status bytes. Each state has the byte a dispenser normally sends and the
// variants the driver also accepts for it.
namespace status {
inline constexpr std::uint8_t kFinished = 0x20;   // fill over, nozzle hung, waiting for release
inline constexpr std::uint8_t kPoweredUp = 0x2F;  // powered up without prices
inline constexpr std::uint8_t kAuthorized = 0x90;
inline constexpr std::uint8_t kIdle = 0xA0;
inline constexpr std::uint8_t kFilling = 0x99;
inline constexpr std::uint8_t kStopped = 0xD0;  // stopped or limit reached, nozzle up

inline constexpr std::uint8_t kFinishedBytes[] = {kFinished, 0x24};
inline constexpr std::uint8_t kFillingBytes[] = {0x95, 0x98, kFilling, 0x9D, 0xDC};
inline constexpr std::uint8_t kStoppedBytes[] = {kStopped, 0xD4, 0xF0};

template <std::size_t N>
constexpr bool IsOneOf(const std::uint8_t (&bytes)[N], std::uint8_t status) {
  return std::find(std::begin(bytes), std::end(bytes), status) != std::end(bytes);
}
}  // namespace status

}  // namespace quorlan
