// SPDX-License-Identifier: Apache-2.0
#include "gauge/Protocol.h"

#include <array>
#include <utility>

namespace quorlan::gauge {
namespace {

constexpr std::array<std::pair<Function, std::string_view>, 3> kCodes{{
    {Function::Inventory, "201"},
    {Function::Deliveries, "202"},
    {Function::Alarms, "205"},
}};

constexpr std::array<std::pair<int, std::string_view>, 14> kAlarmNames{{
    {alarms::kHighWater, "high water"},
    {alarms::kOverfill, "overfill"},
    {alarms::kLowProduct, "low product"},
    {alarms::kSuddenLoss, "sudden loss"},
    {alarms::kHighProduct, "high product"},
    {alarms::kInvalidFuelLevel, "invalid fuel level"},
    {alarms::kProbeOut, "probe out"},
    {alarms::kHighWaterWarning, "high water warning"},
    {alarms::kDeliveryNeeded, "delivery needed"},
    {alarms::kMaximumProduct, "maximum product"},
    {alarms::kGrossLeakTestFail, "gross leak test fail"},
    {alarms::kPeriodicLeakTestFail, "periodic leak test fail"},
    {alarms::kAnnualLeakTestFail, "annual leak test fail"},
    {alarms::kColdTemperature, "cold temperature"},
}};

}  // namespace

std::string_view CodeOf(Function function) {
  for (const auto& [known, code] : kCodes) {
    if (known == function) return code;
  }
  return {};
}

std::optional<Function> FunctionOfCode(std::string_view code) {
  for (const auto& [function, known] : kCodes) {
    if (known == code) return function;
  }
  return std::nullopt;
}

std::string_view NameOf(Function function) {
  switch (function) {
    case Function::Inventory:
      return "inventory";
    case Function::Deliveries:
      return "deliveries";
    case Function::Alarms:
      return "alarms";
  }
  return "?";
}

std::string AlarmName(int code) {
  for (const auto& [known, name] : kAlarmNames) {
    if (known == code) return std::string(name);
  }
  return "alarm " + std::to_string(code);
}

}  // namespace quorlan::gauge
