// SPDX-License-Identifier: Apache-2.0
#include "GaugeReport.h"

#include <fmt/format.h>

#include "Report.h"
#include "gauge/Protocol.h"

namespace quorlan::cli {
namespace {

nlohmann::json TimeJson(const std::optional<gauge::GaugeTime>& time) {
  return time ? nlohmann::json(gauge::IsoText(*time)) : nlohmann::json(nullptr);
}

nlohmann::json EndJson(const gauge::DeliveryEnd& end) {
  return {{"volume", Decimal(end.volume)},
          {"tc_volume", Decimal(end.tcVolume)},
          {"water", Decimal(end.water)},
          {"temperature", Decimal(end.temperature)},
          {"height", end.height ? Decimal(*end.height) : nlohmann::json(nullptr)}};
}

}  // namespace

std::string InventoryText(const gauge::TankInventory& tank) {
  std::string text = fmt::format(
      "tank {} (product {}): volume {:.1f} l, TC volume {:.1f} l, ullage {:.1f} l, height "
      "{:.1f} mm, water {:.1f} mm",
      tank.tank, tank.product, tank.volume, tank.tcVolume, tank.ullage, tank.height, tank.water);
  if (tank.waterVolume) text += fmt::format(" ({:.1f} l)", *tank.waterVolume);
  text += fmt::format(", {:.1f} °C", tank.temperature);
  if (tank.delivering) text += ", delivery in progress";
  if (tank.leakTest) text += ", leak test in progress";
  if (tank.invalidHeight) text += ", invalid fuel height";
  return text;
}

std::string DeliveryText(const gauge::Delivery& delivery) {
  return fmt::format("tank {}: delivery {} to {}, {:.1f} l (TC {:.1f} l), from {:.1f} to {:.1f} l",
                     delivery.tank, gauge::IsoText(delivery.started),
                     gauge::IsoText(delivery.ended), delivery.end.volume - delivery.start.volume,
                     delivery.end.tcVolume - delivery.start.tcVolume, delivery.start.volume,
                     delivery.end.volume);
}

std::string AlarmsText(const gauge::TankAlarms& tank) {
  if (tank.codes.empty()) return fmt::format("tank {}: all functions normal", tank.tank);
  std::string text = fmt::format("tank {}:", tank.tank);
  for (std::size_t i = 0; i < tank.codes.size(); ++i) {
    text += fmt::format("{} {} ({:02d})", i == 0 ? "" : ",", gauge::AlarmName(tank.codes[i]),
                        tank.codes[i]);
  }
  return text;
}

nlohmann::json InventoryJson(const gauge::Inventory& inventory) {
  nlohmann::json tanks = nlohmann::json::array();
  for (const auto& tank : inventory.tanks) {
    tanks.push_back(
        {{"tank", tank.tank},
         {"product", std::string(1, tank.product)},
         {"volume", Decimal(tank.volume)},
         {"tc_volume", Decimal(tank.tcVolume)},
         {"ullage", Decimal(tank.ullage)},
         {"height", Decimal(tank.height)},
         {"water", Decimal(tank.water)},
         {"water_volume", tank.waterVolume ? Decimal(*tank.waterVolume) : nlohmann::json(nullptr)},
         {"temperature", Decimal(tank.temperature)},
         {"delivering", tank.delivering},
         {"leak_test", tank.leakTest},
         {"invalid_height", tank.invalidHeight}});
  }
  return {{"time", TimeJson(inventory.time)}, {"tanks", tanks}};
}

nlohmann::json DeliveriesJson(const gauge::DeliveryReport& report) {
  nlohmann::json deliveries = nlohmann::json::array();
  for (const auto& delivery : report.deliveries) {
    deliveries.push_back(
        {{"tank", delivery.tank},
         {"product", std::string(1, delivery.product)},
         {"started_at", gauge::IsoText(delivery.started)},
         {"ended_at", gauge::IsoText(delivery.ended)},
         {"start", EndJson(delivery.start)},
         {"end", EndJson(delivery.end)},
         {"gauged",
          {{"volume", Decimal(delivery.end.volume - delivery.start.volume)},
           {"tc_volume", Decimal(delivery.end.tcVolume - delivery.start.tcVolume)}}}});
  }
  return {{"time", TimeJson(report.time)}, {"deliveries", deliveries}};
}

nlohmann::json AlarmsJson(const gauge::AlarmReport& report) {
  nlohmann::json tanks = nlohmann::json::array();
  for (const auto& tank : report.tanks) {
    nlohmann::json alarms = nlohmann::json::array();
    for (int code : tank.codes)
      alarms.push_back({{"code", code}, {"name", gauge::AlarmName(code)}});
    tanks.push_back({{"tank", tank.tank}, {"alarms", alarms}});
  }
  return {{"time", TimeJson(report.time)}, {"tanks", tanks}};
}

}  // namespace quorlan::cli
