#pragma once
// The JSON objects of the API: a dispenser, a fill, a price book entry, the
// results of commands. The one place where the station's values become words.

#include <nlohmann/json.hpp>

#include "station/config/Config.h"
#include "station/model/DispenserView.h"
#include "station/model/Records.h"
#include "station/model/Results.h"
#include "station/model/ShiftReport.h"

namespace quorlan::station {

nlohmann::json LimitJson(const FillLimit& limit);
nlohmann::json DispenserJson(const DispenserView& view);
// The fill as it stands at `now` (a lapsed lock shows as none).
nlohmann::json FillJson(const FillRecord& fill, Instant now = Now());
nlohmann::json PriceJson(const PriceEntry& entry);
nlohmann::json PriceResultJson(const PriceResult& result);
nlohmann::json StopResultJson(const StopResult& result);
nlohmann::json ShiftReportJson(const ShiftReport& report);
nlohmann::json SessionJson(const SessionView& session);
// A command's answer: its payload as the API shows it.
nlohmann::json PayloadJson(const Payload& payload);

}  // namespace quorlan::station
