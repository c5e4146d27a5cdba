#pragma once
// The simulated gauge's replies as a console writes them: the records in
// the console's units, the computer format's envelope with its checksum,
// and the printed inventory.

#include <string>
#include <vector>

#include "gauge/Readings.h"
#include "gauge/Units.h"

namespace quorlan::sim {

// SOH, the echo, the time, `data`, "&&", the checksum, ETX. `checksumError`
// is added to the checksum (a fault).
std::string ComputerReply(const std::string& echo, const gauge::GaugeTime& time,
                          const std::string& data, int checksumError = 0);
// The console's answer to a command it does not know.
std::string NotUnderstoodReply();

std::string InventoryRecords(const std::vector<gauge::TankInventory>& tanks, gauge::Units units);
std::string DeliveryRecords(const std::vector<int>& tanks, const std::vector<char>& products,
                            const std::vector<std::vector<gauge::Delivery>>& deliveries,
                            gauge::Units units);
std::string AlarmRecords(const std::vector<gauge::TankAlarms>& tanks);
std::string DisplayInventory(const std::string& echo, const gauge::GaugeTime& time,
                             const std::vector<gauge::TankInventory>& tanks, gauge::Units units);

}  // namespace quorlan::sim
