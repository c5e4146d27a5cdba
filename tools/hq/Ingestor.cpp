// SPDX-License-Identifier: Apache-2.0
#include "Ingestor.h"

#include <chrono>
#include <cstdio>
#include <map>

namespace quorlan::hq {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr int kAtLeastOnce = 1;
// Records committed in one transaction at most.
constexpr std::size_t kBatch = 500;

}  // namespace

Ingestor::Ingestor(IngestOptions options, Journal& journal)
    : options_(std::move(options)), journal_(journal), client_(options_.mqtt) {
  client_.OnConnected([this] {
    const std::string shared = "$share/" + options_.shareGroup + "/quorlan/v1/+/";
    for (const auto kind :
         {fleet::Kind::Fill, fleet::Kind::Shift, fleet::Kind::Alarm, fleet::Kind::PriceOutcome}) {
      client_.Subscribe(shared + std::string(fleet::KindName(kind)), kAtLeastOnce);
    }
    // Presence and live states are retained, and a shared subscription gets
    // no retained messages: every head office process takes them all, which
    // is harmless since they only overwrite.
    client_.Subscribe("quorlan/v1/+/presence", kAtLeastOnce);
    client_.Subscribe("quorlan/v1/+/live/+/+", 0);
  });
  client_.OnMessage(
      [this](const std::string& topic, const std::string& payload) { OnMessage(topic, payload); });
}

Ingestor::~Ingestor() {
  Stop();
}

void Ingestor::Start() {
  if (running_.exchange(true)) return;
  thread_ = std::thread([this] { Run(); });
}

void Ingestor::Stop() {
  if (!running_.exchange(false)) return;
  thread_.join();
}

bool Ingestor::PublishCommand(const std::string& station, const std::string& payload) {
  if (!connected_) return false;
  const std::lock_guard lock(commandsMutex_);
  commands_.emplace_back(station, payload);
  return true;
}

void Ingestor::Run() {
  while (running_) {
    client_.Poll(kPoll);
    // libmosquitto reads about one packet a call when little is queued:
    // take what is already waiting too, so one transaction carries it all.
    std::size_t before = 0;
    do {
      before = pending_.size();
      client_.Poll(std::chrono::milliseconds(0));
    } while (pending_.size() > before && pending_.size() < kBatch);
    connected_ = client_.Connected();
    Flush();
    std::vector<std::pair<std::string, std::string>> commands;
    {
      const std::lock_guard lock(commandsMutex_);
      commands.swap(commands_);
    }
    for (const auto& [station, payload] : commands) {
      client_.Publish(fleet::PriceCommandTopic(station), payload, kAtLeastOnce, false);
    }
  }
  // A planned stop ends the session: a shared subscription would otherwise
  // keep handing this process its share of the records until the session
  // expires. Whatever was queued for it is resent by the stations, which
  // never had a receipt for it.
  client_.Disconnect(true);
  connected_ = false;
}

void Ingestor::Flush() {
  for (std::size_t first = 0; first < pending_.size(); first += kBatch) {
    const std::vector<Record> batch(
        pending_.begin() + static_cast<std::ptrdiff_t>(first),
        pending_.begin() + static_cast<std::ptrdiff_t>(std::min(pending_.size(), first + kBatch)));
    try {
      journal_.Ingest(batch);
    } catch (const std::exception& failure) {
      // Nothing confirmed: every station sends these again.
      std::fprintf(stderr, "hq: %s\n", failure.what());
      break;
    }
    // Committed: now the stations may forget them.
    std::map<std::string, std::vector<std::int64_t>> seqs;
    for (const auto& record : batch) seqs[record.station].push_back(record.seq);
    for (const auto& [station, committed] : seqs) {
      const nlohmann::json receipt{{"schema", fleet::kSchemaVersion}, {"seq", committed}};
      client_.Publish(fleet::ReceiptTopic(station), receipt.dump(), kAtLeastOnce, false);
    }
  }
  pending_.clear();
}

void Ingestor::OnMessage(const std::string& topic, const std::string& payload) {
  const auto parts = fleet::ParseTopic(topic);
  if (!parts) return;
  try {
    if (parts->rest.size() == 1 && parts->rest[0] == "presence") {
      const auto presence = nlohmann::json::parse(payload, nullptr, false);
      if (presence.is_object()) journal_.SetPresence(parts->station, presence);
      return;
    }
    if (parts->rest.size() == 3 && parts->rest[0] == "live") {
      const auto live = nlohmann::json::parse(payload, nullptr, false);
      const int channel = std::atoi(parts->rest[1].c_str());
      const int dispenser = std::atoi(parts->rest[2].c_str());
      if (live.is_object() && channel > 0 && dispenser > 0) {
        journal_.SetLive(parts->station, channel, dispenser, live);
      }
      return;
    }
    const auto kind = parts->rest.size() == 1 ? fleet::KindFromName(parts->rest[0]) : std::nullopt;
    if (!kind) return;
    const auto record = ReadEnvelope(parts->station, *kind, payload);
    if (!record) {
      // Unreadable here (a newer schema?): no receipt, so the station keeps it.
      std::fprintf(stderr, "hq: unreadable record on %s\n", topic.c_str());
      return;
    }
    pending_.push_back(std::move(*record));
  } catch (const std::exception& failure) {
    // No receipt: the station sends it again.
    std::fprintf(stderr, "hq: %s: %s\n", topic.c_str(), failure.what());
  }
}

}  // namespace quorlan::hq
