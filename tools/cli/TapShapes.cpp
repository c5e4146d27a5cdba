// SPDX-License-Identifier: Apache-2.0
#include "TapShapes.h"

#include <fmt/format.h>

#include <array>

#include "link/Bcd.h"
#include "link/Frame.h"

namespace quorlan::cli::tap {

namespace {

constexpr std::array<RequestKind, 9> kKinds{{
    {"status", requests::kStatus},
    {"substatus", requests::kSubStatus},
    {"release", requests::kRelease},
    {"stop", requests::kStop},
    {"prices", requests::kPriceTable},
    {"price1", requests::kGradeOnePrice},
    {"authorize", requests::kAuthorize},
    {"preset", requests::kPresetAuthorize},
    {"totals", requests::kTotals},
}};

// BCD bytes, most significant first, as a number with two decimals.
std::string Decimal(std::initializer_list<std::uint8_t> mostFirst) {
  bool bcd = true;
  for (auto b : mostFirst) bcd = bcd && IsBcdByte(b);
  const std::int64_t value = BcdToInt(std::span(mostFirst.begin(), mostFirst.size()));
  const auto text = fmt::format("{}.{:02}", value / 100, value % 100);
  return bcd ? text : text + " (not decimal)";
}

// BCD info bytes [first, last], least significant first, two decimals.
std::string Counter(std::span<const std::uint8_t> info, int first, int last) {
  Bytes mostFirst;
  for (int i = last; i >= first; --i) mostFirst.push_back(info[std::size_t(i)]);
  bool bcd = true;
  for (auto b : mostFirst) bcd = bcd && IsBcdByte(b);
  const std::int64_t value = BcdToInt(mostFirst);
  const auto text = fmt::format("{}.{:02}", value / 100, value % 100);
  return bcd ? text : text + " (not decimal)";
}

}  // namespace

std::optional<Addressee> DecodeAddress(std::uint8_t addressByte) {
  for (int d = 1; d <= kDispensers; ++d) {
    if (AddressByte(d) == addressByte) return Addressee{d, false};
    if (AddressByte(d + kSecondAddressOffset) == addressByte) return Addressee{d, true};
  }
  return std::nullopt;
}

const RequestKind* FindRequest(bool second, std::uint8_t command) {
  for (const auto& kind : kKinds) {
    if (kind.shape.secondAddress == second && kind.shape.command == command) return &kind;
  }
  return nullptr;
}

std::vector<Field> RequestFields(const RequestKind& kind, std::span<const std::uint8_t> info) {
  const auto data = info.subspan(2);
  const auto command = kind.shape.command;
  const bool second = kind.shape.secondAddress;
  if (command == requests::kGradeOnePrice.command && !second) {
    return {{"price", Decimal({data[1], data[0]})}};
  }
  if (command == requests::kPriceTable.command && second) {
    std::vector<Field> fields;
    for (int grade = 1; grade <= kPriceTableGrades; ++grade) {
      const auto at = 4 * std::size_t(grade - 1);
      auto price = Decimal({data[at], data[at + 1]});
      if (data[at] != data[at + 2] || data[at + 1] != data[at + 3]) price += " (copies differ)";
      fields.emplace_back(fmt::format("grade{}", grade), price);
    }
    return fields;
  }
  if (command == requests::kPresetAuthorize.command && !second) {
    return {{"grade", std::to_string(data[0])},
            {"price", Decimal({data[2], data[1]})},
            {"amount", Decimal({data[5], data[4], data[3]})},
            {"volume", Decimal({data[8], data[7], data[6]})}};
  }
  if (command == requests::kTotals.command && !second) {
    const int offset = data[0] - kTotalsSelectorBase;
    if (offset < 0 || offset % 2 != 0) return {{"selector", fmt::format("{:02X}", data[0])}};
    return {{"nozzle", std::to_string(offset / 2 + 1)}};
  }
  return {};
}

std::vector<Field> ReplyFields(const RequestKind& kind, std::span<const std::uint8_t> info) {
  if (info.size() != std::size_t(kind.shape.replyInfoBytes)) return {};
  const auto command = kind.shape.command;
  const bool second = kind.shape.secondAddress;
  if (command == requests::kStatus.command && !second) {
    return {{"state", StatusName(info[kStatusByteIndex])},
            {"amount", Counter(info, kStatusAmountByte, kStatusAmountByte + 2)},
            {"volume", Counter(info, kStatusVolumeByte, kStatusVolumeByte + 2)}};
  }
  if (command == requests::kSubStatus.command && second) {
    return {{"nozzle", std::to_string(info[0] & kSubStatusNozzleMask)}};
  }
  if (command == requests::kTotals.command && !second) {
    return {{"volume total", Counter(info, kTotalsVolumeFirst, kTotalsVolumeLast)},
            {"amount total", Counter(info, kTotalsAmountFirst, kTotalsAmountLast)}};
  }
  return {};
}

std::string StatusName(std::uint8_t status) {
  using namespace quorlan::status;
  if (status == kIdle) return "idle";
  if (status == kAuthorized) return "authorized";
  if (status == kPoweredUp) return "no prices";
  if (IsOneOf(kFinishedBytes, status)) return "finished";
  if (IsOneOf(kFillingBytes, status)) return "filling";
  if (IsOneOf(kStoppedBytes, status)) return "stopped";
  return fmt::format("{:02X}", status);
}

std::optional<std::size_t> BrokenPair(std::span<const std::uint8_t> line) {
  for (std::size_t i = 0; i + 1 < line.size(); i += 2) {
    if ((line[i] ^ kComplement) != line[i + 1]) return i / 2;
  }
  return std::nullopt;
}

Bytes InfoBytes(std::span<const std::uint8_t> line) {
  Bytes info;
  for (std::size_t i = 0; i < line.size(); i += 2) info.push_back(line[i]);
  return info;
}

}  // namespace quorlan::cli::tap
