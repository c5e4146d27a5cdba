// SPDX-License-Identifier: Apache-2.0
#include "gauge/Replies.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "gauge/Fields.h"

namespace quorlan::gauge {
namespace {

// SOH, the echo (letter, code, tank) and the clock.
constexpr std::size_t kEchoSize = 1 + kCodeDigits + kTankDigits;
constexpr std::size_t kHeadSize = 1 + kEchoSize + kTimeDigits;
// "&&", the checksum and ETX.
constexpr std::size_t kTailSize = kDataEnd.size() + kChecksumDigits + 1;

BadReply Bad(std::string reason) {
  return BadReply{std::move(reason)};
}

// Reads fixed-width fields off the front of a record stream.
class Cursor {
 public:
  explicit Cursor(std::string_view data) : rest_(data) {}
  bool Done() const { return rest_.empty(); }
  std::optional<std::string_view> Take(std::size_t count) {
    if (rest_.size() < count) return std::nullopt;
    const auto field = rest_.substr(0, count);
    rest_.remove_prefix(count);
    return field;
  }
  std::optional<int> Decimal(std::size_t count) {
    const auto field = Take(count);
    return field ? ParseDecimal(*field) : std::nullopt;
  }
  std::optional<int> HexNumber(std::size_t count) {
    const auto field = Take(count);
    return field ? ParseHex(*field) : std::nullopt;
  }
  // `count` singles; a field that is not 8 hex digits fails them all.
  std::optional<std::vector<double>> Floats(int count) {
    std::vector<double> values;
    for (int i = 0; i < count; ++i) {
      const auto field = Take(kFloatDigits);
      const auto value = field ? ParseHexFloat(*field) : std::nullopt;
      if (!value) return std::nullopt;
      values.push_back(*value);
    }
    return values;
  }

 private:
  std::string_view rest_;
};

std::string Shown(std::string_view echo) {
  std::string text;
  for (char c : echo) text += (c >= 0x20 && c <= 0x7E) ? c : '?';
  return text;
}

// A record of tank `tank` may stand in a reply to `asked`.
std::optional<BadReply> CheckTank(int tank, int asked, int previous) {
  if (tank < 1 || tank > kLastTank) return Bad("a record of no tank");
  if (asked != kAllTanks && tank != asked) {
    return Bad("tank " + TankDigits(tank) + " answered for " + TankDigits(asked));
  }
  if (tank <= previous) return Bad("tank " + TankDigits(tank) + " out of order");
  return std::nullopt;
}

std::optional<BadReply> CheckFigure(const char* name, double value, bool mayBeNegative) {
  if (!std::isfinite(value)) return Bad(std::string(name) + " is not a number");
  if (!mayBeNegative && value < 0) return Bad(std::string("negative ") + name);
  return std::nullopt;
}

std::optional<BadReply> CheckInventory(const TankInventory& tank) {
  const std::pair<const char*, double> figures[] = {{"volume", tank.volume},
                                                    {"TC volume", tank.tcVolume},
                                                    {"ullage", tank.ullage},
                                                    {"height", tank.height},
                                                    {"water", tank.water}};
  for (const auto& [name, value] : figures) {
    if (auto problem = CheckFigure(name, value, false)) return problem;
  }
  if (auto problem = CheckFigure("temperature", tank.temperature, true)) return problem;
  if (tank.waterVolume) return CheckFigure("water volume", *tank.waterVolume, false);
  return std::nullopt;
}

std::optional<BadReply> CheckDeliveryEnd(const DeliveryEnd& end) {
  const std::pair<const char*, double> figures[] = {{"delivery volume", end.volume},
                                                    {"delivery TC volume", end.tcVolume},
                                                    {"delivery water", end.water},
                                                    {"delivery height", end.height.value_or(0)}};
  for (const auto& [name, value] : figures) {
    if (auto problem = CheckFigure(name, value, false)) return problem;
  }
  return CheckFigure("delivery temperature", end.temperature, true);
}

Parsed<Inventory> ParseComputerInventory(std::string_view frame, const Command& command) {
  auto opened = OpenComputerReply(frame, command);
  if (auto* problem = ProblemOf(opened)) return *problem;
  const auto& body = std::get<ReplyBody>(opened);
  Inventory inventory{.time = body.time};
  Cursor cursor(body.data);
  int previous = 0;
  while (!cursor.Done()) {
    TankInventory tank;
    const auto number = cursor.Decimal(kTankDigits);
    const auto product = cursor.Take(1);
    const auto status = cursor.HexNumber(kStatusDigits);
    const auto count = cursor.HexNumber(kCountDigits);
    if (!number || !product || !status || !count) return Bad("a cut tank record");
    if (auto problem = CheckTank(*number, command.tank, previous)) return *problem;
    if (*count < int(kInventoryFields)) return Bad("too few inventory fields");
    const auto values = cursor.Floats(*count);
    if (!values) return Bad("a cut or malformed inventory field");
    tank.tank = previous = *number;
    tank.product = (*product)[0];
    tank.delivering = (*status & kDeliveryInProgress) != 0;
    tank.leakTest = (*status & kLeakTestInProgress) != 0;
    tank.invalidHeight = (*status & kInvalidFuelHeight) != 0;
    const auto field = [&](InventoryField f) { return (*values)[std::size_t(f)]; };
    tank.volume = field(InventoryField::Volume);
    tank.tcVolume = field(InventoryField::TcVolume);
    tank.ullage = field(InventoryField::Ullage);
    tank.height = field(InventoryField::Height);
    tank.water = field(InventoryField::Water);
    tank.temperature = field(InventoryField::Temperature);
    tank.waterVolume = field(InventoryField::WaterVolume);
    if (auto problem = CheckInventory(tank)) return *problem;
    inventory.tanks.push_back(tank);
  }
  if (inventory.tanks.empty()) return Bad("no tank in the reply");
  return inventory;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find_first_of("\r\n");
    const auto line = text.substr(0, end);
    if (line.find_first_not_of(" \t") != std::string_view::npos) lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = line.find_first_not_of(" \t", at)) != std::string_view::npos) {
    const auto end = line.find_first_of(" \t", at);
    words.emplace_back(line.substr(at, end - at));
    at = end == std::string_view::npos ? line.size() : end;
  }
  return words;
}

// A printed figure: digits, one point, a leading minus; thousands commas
// are dropped.
std::optional<double> PrintedNumber(std::string word) {
  std::erase(word, ',');
  if (word.empty() || word.size() > 20) return std::nullopt;
  std::size_t digits = 0, points = 0;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else if (!(c == '-' && i == 0)) {
      return std::nullopt;
    }
  }
  if (digits == 0 || points > 1) return std::nullopt;
  return std::strtod(word.c_str(), nullptr);
}

// The printed inventory: after the echo line, a heading with the columns
// TANK PRODUCT VOLUME TC VOLUME ULLAGE HEIGHT WATER TEMP, then a row per
// tank, its product label in words between the number and the figures.
Parsed<Inventory> ParseDisplayInventory(std::string_view frame, const Command& command) {
  if (frame.size() < 2 || frame.front() != kSoh || frame.back() != kEtx) return Bad("no frame");
  const auto lines = Lines(frame.substr(1, frame.size() - 2));
  const std::string echo =
      LetterOf(Format::Display) + std::string(CodeOf(command.function)) + TankDigits(command.tank);
  if (lines.empty() || Words(lines.front()) != std::vector<std::string>{echo}) {
    return Bad("the report does not echo " + echo);
  }
  constexpr std::size_t kFigures = 6;
  Inventory inventory;
  bool inTable = false;
  int previous = 0;
  for (const auto line : lines) {
    const auto words = Words(line);
    if (!inTable) {
      inTable = line.find("TANK") != std::string_view::npos &&
                line.find("PRODUCT") != std::string_view::npos &&
                line.find("ULLAGE") != std::string_view::npos;
      continue;
    }
    const auto number = ParseDecimal(words.front());
    if (!number) continue;  // a footer or a blank ruling
    if (words.size() < kFigures + 1) return Bad("a cut tank row");
    std::vector<double> figures;
    for (std::size_t i = words.size() - kFigures; i < words.size(); ++i) {
      const auto value = PrintedNumber(words[i]);
      if (!value) return Bad("a tank row with a figure that is not a number");
      figures.push_back(*value);
    }
    if (auto problem = CheckTank(*number, command.tank, previous)) return *problem;
    TankInventory tank{.tank = *number};
    previous = *number;
    tank.product = words.size() > kFigures + 1 ? words[1][0] : ' ';
    tank.volume = figures[0];
    tank.tcVolume = figures[1];
    tank.ullage = figures[2];
    tank.height = figures[3];
    tank.water = figures[4];
    tank.temperature = figures[5];
    if (auto problem = CheckInventory(tank)) return *problem;
    inventory.tanks.push_back(tank);
  }
  if (inventory.tanks.empty()) return Bad("no tank in the report");
  return inventory;
}

DeliveryEnd EndOf(const std::vector<double>& values, bool start) {
  const auto at = [&](DeliveryField f) { return values[std::size_t(f)]; };
  DeliveryEnd end;
  end.volume = at(start ? DeliveryField::StartVolume : DeliveryField::EndVolume);
  end.tcVolume = at(start ? DeliveryField::StartTcVolume : DeliveryField::EndTcVolume);
  end.water = at(start ? DeliveryField::StartWater : DeliveryField::EndWater);
  end.temperature = at(start ? DeliveryField::StartTemperature : DeliveryField::EndTemperature);
  if (values.size() >= kDeliveryFields) {
    end.height = at(start ? DeliveryField::StartHeight : DeliveryField::EndHeight);
  }
  return end;
}

}  // namespace

Parsed<ReplyBody> OpenComputerReply(std::string_view frame, const Command& command) {
  if (frame.size() < 2 || frame.front() != kSoh || frame.back() != kEtx) return Bad("no frame");
  if (frame.substr(1).starts_with(kNotUnderstood)) return Bad("the gauge did not understand");
  if (frame.size() < kHeadSize + kTailSize) return Bad("a reply too short");
  const auto tail = frame.size() - kTailSize;
  if (frame.substr(tail, kDataEnd.size()) != kDataEnd) return Bad("a reply without its end mark");
  const auto message = frame.substr(0, tail + kDataEnd.size());
  if (!ChecksumHolds(message, frame.substr(tail + kDataEnd.size(), kChecksumDigits))) {
    return Bad("wrong checksum");
  }
  const auto echo = frame.substr(1, kEchoSize);
  const std::string expected =
      LetterOf(Format::Computer) + std::string(CodeOf(command.function)) + TankDigits(command.tank);
  if (echo.substr(0, 1 + kCodeDigits) != std::string_view(expected).substr(0, 1 + kCodeDigits)) {
    return Bad("a reply to " + Shown(echo.substr(0, 1 + kCodeDigits)) + " instead of " +
               expected.substr(0, 1 + kCodeDigits));
  }
  if (echo != expected) {
    return Bad("tank " + Shown(echo.substr(1 + kCodeDigits)) + " answered for " +
               TankDigits(command.tank));
  }
  const auto time = ParseGaugeTime(frame.substr(1 + kEchoSize, kTimeDigits));
  if (!time) return Bad("a reply with an invalid time");
  return ReplyBody{*time, frame.substr(kHeadSize, tail - kHeadSize)};
}

Parsed<Inventory> ParseInventory(std::string_view frame, const Command& command) {
  return command.format == Format::Display ? ParseDisplayInventory(frame, command)
                                           : ParseComputerInventory(frame, command);
}

Parsed<DeliveryReport> ParseDeliveries(std::string_view frame, const Command& command) {
  auto opened = OpenComputerReply(frame, command);
  if (auto* problem = ProblemOf(opened)) return *problem;
  const auto& body = std::get<ReplyBody>(opened);
  DeliveryReport report{.time = body.time};
  Cursor cursor(body.data);
  int previous = 0;
  while (!cursor.Done()) {
    const auto number = cursor.Decimal(kTankDigits);
    const auto product = cursor.Take(1);
    const auto count = cursor.Decimal(kCountDigits);
    if (!number || !product || !count) return Bad("a cut delivery record");
    if (auto problem = CheckTank(*number, command.tank, previous)) return *problem;
    previous = *number;
    for (int i = 0; i < *count; ++i) {
      const auto startText = cursor.Take(kTimeDigits);
      const auto endText = cursor.Take(kTimeDigits);
      const auto fields = cursor.HexNumber(kCountDigits);
      if (!startText || !endText || !fields) return Bad("a cut delivery");
      const auto started = ParseGaugeTime(*startText);
      const auto ended = ParseGaugeTime(*endText);
      if (!started || !ended) return Bad("a delivery with an invalid time");
      if (*fields < int(kDeliveryFieldsWithoutHeights)) return Bad("too few delivery fields");
      const auto values = cursor.Floats(*fields);
      if (!values) return Bad("a cut or malformed delivery field");
      Delivery delivery{
          .tank = *number, .product = (*product)[0], .started = *started, .ended = *ended};
      delivery.start = EndOf(*values, true);
      delivery.end = EndOf(*values, false);
      for (const auto* end : {&delivery.start, &delivery.end}) {
        if (auto problem = CheckDeliveryEnd(*end)) return *problem;
      }
      report.deliveries.push_back(delivery);
    }
  }
  return report;
}

Parsed<AlarmReport> ParseAlarms(std::string_view frame, const Command& command) {
  auto opened = OpenComputerReply(frame, command);
  if (auto* problem = ProblemOf(opened)) return *problem;
  const auto& body = std::get<ReplyBody>(opened);
  AlarmReport report{.time = body.time};
  Cursor cursor(body.data);
  int previous = 0;
  while (!cursor.Done()) {
    const auto number = cursor.Decimal(kTankDigits);
    const auto count = cursor.HexNumber(kCountDigits);
    if (!number || !count) return Bad("a cut alarm record");
    if (auto problem = CheckTank(*number, command.tank, previous)) return *problem;
    previous = *number;
    TankAlarms tank{.tank = *number};
    for (int i = 0; i < *count; ++i) {
      const auto code = cursor.Decimal(2);
      if (!code) return Bad("a cut or malformed alarm code");
      tank.codes.push_back(*code);
    }
    report.tanks.push_back(tank);
  }
  return report;
}

}  // namespace quorlan::gauge
