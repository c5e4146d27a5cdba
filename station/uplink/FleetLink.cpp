// SPDX-License-Identifier: Apache-2.0
#include "station/uplink/FleetLink.h"

#include "station/PriceList.h"
#include "station/base/Log.h"
#include "station/fleet/FleetConfig.h"
#include "station/fleet/Mqtt.h"
#include "station/format/EventData.h"
#include "station/format/JsonViews.h"

namespace quorlan::station {

namespace {

// What head office shows of the station: its lines and their dispensers.
nlohmann::json Presence(const StationConfig& config) {
  nlohmann::json lines = nlohmann::json::array();
  for (const LineConfig& line : config.lines) {
    lines.push_back({{"channel", line.channel}, {"dispensers", line.dispensers}});
  }
  return {{"lines", lines}};
}

fleet::PublisherOptions Options(const fleet::FleetConfig& config, const StationConfig& station) {
  try {
    fleet::PublisherOptions options = fleet::MakePublisherOptions(config);
    options.presence = Presence(station);
    return options;
  } catch (const fleet::FleetConfigError& error) {
    throw ConfigError(kExitConfig, station.file + ": " + error.what());
  }
}

}  // namespace

FleetLink::FleetLink(Station& station, const fleet::FleetConfig& config)
    : station_(station), connection_(station.Config().database), sql_(connection_) {
  const fleet::PublisherOptions options = Options(config, station.Config());
  station_.Journal().database.SetFeed(&outbox_);
  commands_ = std::make_unique<fleet::CommandReceiver>(
      sql_, [this](const nlohmann::json& prices) { return ApplyPrices(prices); },
      [this](const std::function<void(fleet::Sql&)>& change) {
        station_.Journal().database.Write([&](sql::Database& db) {
          fleet::StationSql journal(db);
          change(journal);
        });
      });
  try {
    publisher_ = std::make_unique<fleet::Publisher>(options, sql_, commands_.get());
  } catch (const fleet::MqttError& error) {
    station_.Journal().database.SetFeed(nullptr);
    throw ConfigError(kExitConfig, station.Config().file + ": fleet: " + error.what());
  }
  station_.Events().Observe([this](const StoredEvent& event) { OnEvent(event); });
}

FleetLink::~FleetLink() {
  station_.Events().Observe(nullptr);
  Stop();
  station_.Journal().database.SetFeed(nullptr);
}

void FleetLink::Start() {
  publisher_->Start();
}

void FleetLink::Stop() {
  publisher_->Stop();
}

void FleetLink::OnEvent(const StoredEvent& event) {
  try {
    if (event.name == kDispenserEvent) {
      auto view = nlohmann::json::parse(event.data);
      const int channel = view.at("channel").get<int>();
      const int dispenser = view.at("dispenser").get<int>();
      publisher_->SetLive(channel, dispenser, std::move(view));
    } else if (event.name == kAlarmEvent) {
      FleetOutbox::Alarm(station_.Journal(), event);
    }
  } catch (const std::exception& error) {
    // A journal that cannot be written keeps the alarm from head office;
    // the station's own alarm and health say it.
    Log("fleet: event {} not handed on: {}", event.id, error.what());
  }
}

nlohmann::json FleetLink::ApplyPrices(const nlohmann::json& prices) {
  // The checks and the use case of PUT /prices: a refused list changes nothing.
  const auto entries = ReadPriceList(
      prices, [this](int channel, int dispenser) { return station_.Has(channel, dispenser); });
  nlohmann::json results = nlohmann::json::array();
  for (const PriceResult& result : station_.Forecourt().ChangePrices(entries)) {
    results.push_back(PriceResultJson(result));
  }
  return results;
}

}  // namespace quorlan::station
