// SPDX-License-Identifier: Apache-2.0
#pragma once
// How the gauge's reports are printed: a plain line per tank, delivery or
// tank's alarms, or one JSON object of the report (metric units).

#include <nlohmann/json.hpp>
#include <string>

#include "gauge/Readings.h"

namespace quorlan::cli {

std::string InventoryText(const gauge::TankInventory& tank);
std::string DeliveryText(const gauge::Delivery& delivery);
std::string AlarmsText(const gauge::TankAlarms& tank);

nlohmann::json InventoryJson(const gauge::Inventory& inventory);
nlohmann::json DeliveriesJson(const gauge::DeliveryReport& report);
nlohmann::json AlarmsJson(const gauge::AlarmReport& report);

}  // namespace quorlan::cli
