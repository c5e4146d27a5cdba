// SPDX-License-Identifier: Apache-2.0
#pragma once
// The tank gauge's serial command format, named once: the framing bytes,
// the functions this system asks for, the widths of the reply's fields, the
// status bits of an inventory and the alarm codes of the in-tank status.
// The client, the simulator and the tests all take their numbers here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorlan::gauge {

// A message starts with SOH and a reply ends with ETX.
inline constexpr char kSoh = 0x01;
inline constexpr char kEtx = 0x03;
// Before the checksum of a computer-format reply.
inline constexpr std::string_view kDataEnd = "&&";

// The letter before the function code: computer replies are packed data
// with a checksum, display replies a printed report.
enum class Format : std::uint8_t { Computer, Display };
inline constexpr char kComputerLetter = 'i';
inline constexpr char kDisplayLetter = 'I';
constexpr char LetterOf(Format format) {
  return format == Format::Computer ? kComputerLetter : kDisplayLetter;
}

enum class Function : std::uint8_t {
  Inventory,   // 201: in-tank inventory
  Deliveries,  // 202: delivery report
  Alarms,      // 205: in-tank status (the active alarms)
};
std::string_view CodeOf(Function function);
std::optional<Function> FunctionOfCode(std::string_view code);
std::string_view NameOf(Function function);

// Field widths, in characters.
inline constexpr std::size_t kCodeDigits = 3;
inline constexpr std::size_t kTankDigits = 2;
inline constexpr std::size_t kTimeDigits = 10;  // YYMMDDHHmm
inline constexpr std::size_t kFloatDigits = 8;  // an IEEE 754 single in hex
inline constexpr std::size_t kCountDigits = 2;  // a count of fields (hex) or records (decimal)
inline constexpr std::size_t kStatusDigits = 4;
inline constexpr std::size_t kChecksumDigits = 4;
// The gauge's answer to a function it does not know: SOH, this, checksum, ETX.
inline constexpr std::string_view kNotUnderstood = "9999";

// Tank 00 asks for every tank.
inline constexpr int kAllTanks = 0;
inline constexpr int kLastTank = 99;

// Inventory status bits (the 4 hex digits after the product code).
inline constexpr unsigned kDeliveryInProgress = 0x1;
inline constexpr unsigned kLeakTestInProgress = 0x2;
inline constexpr unsigned kInvalidFuelHeight = 0x4;

// Data fields of one tank's inventory, in order.
enum class InventoryField : std::uint8_t {
  Volume,
  TcVolume,
  Ullage,
  Height,
  Water,
  Temperature,
  WaterVolume,
};
inline constexpr std::size_t kInventoryFields = 7;

// Data fields of one delivery, in order; older consoles stop after the
// eighth (no heights).
enum class DeliveryField : std::uint8_t {
  StartVolume,
  StartTcVolume,
  StartWater,
  StartTemperature,
  EndVolume,
  EndTcVolume,
  EndWater,
  EndTemperature,
  StartHeight,
  EndHeight,
};
inline constexpr std::size_t kDeliveryFieldsWithoutHeights = 8;
inline constexpr std::size_t kDeliveryFields = 10;

// Alarm codes of the in-tank status report.
namespace alarms {
inline constexpr int kHighWater = 3;
inline constexpr int kOverfill = 4;
inline constexpr int kLowProduct = 5;
inline constexpr int kSuddenLoss = 6;
inline constexpr int kHighProduct = 7;
inline constexpr int kInvalidFuelLevel = 8;
inline constexpr int kProbeOut = 9;
inline constexpr int kHighWaterWarning = 10;
inline constexpr int kDeliveryNeeded = 11;
inline constexpr int kMaximumProduct = 12;
inline constexpr int kGrossLeakTestFail = 13;
inline constexpr int kPeriodicLeakTestFail = 14;
inline constexpr int kAnnualLeakTestFail = 15;
inline constexpr int kColdTemperature = 27;
}  // namespace alarms
// The words for an alarm code; "alarm NN" for one this list does not know.
std::string AlarmName(int code);

}  // namespace quorlan::gauge
