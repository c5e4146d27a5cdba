#include "GaugeReplies.h"

#include <cstdio>

#include "gauge/Command.h"
#include "gauge/Fields.h"
#include "gauge/Protocol.h"

namespace quorlan::sim {
namespace {

using gauge::Units;

// The console's units from metric.
float Litres(double litres, Units units) {
  return float(units == Units::Us ? litres / gauge::kLitresPerUsGallon : litres);
}
float Millimetres(double millimetres, Units units) {
  return float(units == Units::Us ? millimetres / gauge::kMillimetresPerInch : millimetres);
}
float Celsius(double celsius, Units units) {
  return float(units == Units::Us ? celsius * 9 / 5 + 32 : celsius);
}

std::string Floats(std::initializer_list<float> values) {
  std::string text;
  for (float value : values) text += gauge::HexFloat(value);
  return text;
}

std::string DeliveryEndFields(const gauge::DeliveryEnd& end, Units units) {
  return Floats({Litres(end.volume, units), Litres(end.tcVolume, units),
                 Millimetres(end.water, units), Celsius(end.temperature, units)});
}

}  // namespace

std::string ComputerReply(const std::string& echo, const gauge::GaugeTime& time,
                          const std::string& data, int checksumError) {
  std::string message =
      gauge::kSoh + echo + gauge::FormatGaugeTime(time) + data + std::string(gauge::kDataEnd);
  const auto checksum = std::uint16_t(gauge::Checksum(message) + checksumError);
  return message + gauge::Hex(checksum, int(gauge::kChecksumDigits)) + gauge::kEtx;
}

std::string NotUnderstoodReply() {
  const std::string message = gauge::kSoh + std::string(gauge::kNotUnderstood);
  return message + gauge::Hex(gauge::Checksum(message), int(gauge::kChecksumDigits)) + gauge::kEtx;
}

std::string InventoryRecords(const std::vector<gauge::TankInventory>& tanks, Units units) {
  std::string data;
  for (const auto& tank : tanks) {
    const unsigned status = (tank.delivering ? gauge::kDeliveryInProgress : 0) |
                            (tank.leakTest ? gauge::kLeakTestInProgress : 0) |
                            (tank.invalidHeight ? gauge::kInvalidFuelHeight : 0);
    data += gauge::TankDigits(tank.tank) + tank.product +
            gauge::Hex(status, int(gauge::kStatusDigits)) +
            gauge::Hex(gauge::kInventoryFields, int(gauge::kCountDigits));
    data += Floats({Litres(tank.volume, units), Litres(tank.tcVolume, units),
                    Litres(tank.ullage, units), Millimetres(tank.height, units),
                    Millimetres(tank.water, units), Celsius(tank.temperature, units),
                    Litres(tank.waterVolume.value_or(0), units)});
  }
  return data;
}

std::string DeliveryRecords(const std::vector<int>& tanks, const std::vector<char>& products,
                            const std::vector<std::vector<gauge::Delivery>>& deliveries,
                            Units units) {
  std::string data;
  for (std::size_t i = 0; i < tanks.size(); ++i) {
    char count[8];
    std::snprintf(count, sizeof count, "%02d", int(deliveries[i].size()));
    data += gauge::TankDigits(tanks[i]) + products[i] + count;
    for (const auto& delivery : deliveries[i]) {
      data += gauge::FormatGaugeTime(delivery.started) + gauge::FormatGaugeTime(delivery.ended) +
              gauge::Hex(gauge::kDeliveryFields, int(gauge::kCountDigits));
      data += DeliveryEndFields(delivery.start, units) + DeliveryEndFields(delivery.end, units);
      data += Floats({Millimetres(delivery.start.height.value_or(0), units),
                      Millimetres(delivery.end.height.value_or(0), units)});
    }
  }
  return data;
}

std::string AlarmRecords(const std::vector<gauge::TankAlarms>& tanks) {
  std::string data;
  for (const auto& tank : tanks) {
    data += gauge::TankDigits(tank.tank) + gauge::Hex(unsigned(tank.codes.size()), 2);
    for (int code : tank.codes) {
      char text[8];
      std::snprintf(text, sizeof text, "%02d", code);
      data += text;
    }
  }
  return data;
}

std::string DisplayInventory(const std::string& echo, const gauge::GaugeTime& time,
                             const std::vector<gauge::TankInventory>& tanks, Units units) {
  char line[160];
  std::string text = gauge::kSoh + std::string("\r\n") + echo + "\r\n";
  std::snprintf(line, sizeof line, "%02d-%02d-%02d %02d:%02d\r\n\r\n", time.year % 100, time.month,
                time.day, time.hour, time.minute);
  text += line;
  text += "IN-TANK INVENTORY\r\n\r\n";
  text += "TANK PRODUCT        VOLUME TC VOLUME   ULLAGE   HEIGHT    WATER     TEMP\r\n";
  for (const auto& tank : tanks) {
    std::snprintf(line, sizeof line, "%3d  %c-GRADE     %9.0f %9.0f %8.0f %8.2f %8.2f %8.2f\r\n",
                  tank.tank, tank.product, Litres(tank.volume, units), Litres(tank.tcVolume, units),
                  Litres(tank.ullage, units), Millimetres(tank.height, units),
                  Millimetres(tank.water, units), Celsius(tank.temperature, units));
    text += line;
  }
  return text + "\r\n" + gauge::kEtx;
}

}  // namespace quorlan::sim
