// SPDX-License-Identifier: Apache-2.0
#include "Publisher.h"

#include <cstdio>
#include <vector>

#include "Outbox.h"
#include "Topics.h"

namespace quorlan::fleet {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);
// Rows handed to the client at once; the rest wait in the outbox.
constexpr int kWindow = 64;
constexpr int kAtLeastOnce = 1;
constexpr int kAtMostOnce = 0;
constexpr auto kGoodbyeWait = std::chrono::seconds(2);

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string PresencePayload(const std::string& state, const nlohmann::json& extra) {
  nlohmann::json payload = extra;
  payload["schema"] = kSchemaVersion;
  payload["state"] = state;
  payload["at"] = UtcNow();
  return payload.dump();
}

MqttOptions WithIdentity(MqttOptions mqtt, const std::string& station,
                         const nlohmann::json& presence) {
  if (!ValidStationId(station)) throw MqttError("bad station id: " + station);
  mqtt.clientId = "station-" + station;
  mqtt.will = Will{PresenceTopic(station), PresencePayload("offline", presence), true};
  return mqtt;
}

}  // namespace

Publisher::Publisher(PublisherOptions options, Sql& sql, CommandReceiver* commands)
    : options_(std::move(options)),
      sql_(sql),
      commands_(commands),
      client_(WithIdentity(options_.mqtt, options_.stationId, options_.presence)) {
  sql_.Execute(Outbox::Schema());
  client_.OnConnected([this] { OnConnected(); });
  client_.OnAcknowledged([this](int id, int reason) { OnAcknowledged(id, reason); });
  client_.OnMessage(
      [this](const std::string& topic, const std::string& payload) { OnMessage(topic, payload); });
}

Publisher::~Publisher() {
  Stop();
}

void Publisher::Start() {
  if (running_.exchange(true)) return;
  thread_ = std::thread([this] { Run(); });
}

void Publisher::Stop() {
  if (!running_.exchange(false)) return;
  thread_.join();
}

void Publisher::SetLive(int channel, int dispenser, nlohmann::json state) {
  const std::lock_guard lock(liveMutex_);
  auto& live = live_[{channel, dispenser}];
  live.state = std::move(state);
  live.pending = true;
}

void Publisher::Run() {
  while (running_) {
    try {
      client_.Poll(kPoll);
      connected_ = client_.Connected();
      if (connected_) {
        SendDue();
        SendLive();
      }
    } catch (const std::exception& failure) {
      // A busy or failing database: the rows stay and are tried again.
      std::fprintf(stderr, "fleet: %s\n", failure.what());
    }
  }
  if (client_.Connected()) {
    // A clean goodbye sends no will, so say it ourselves.
    client_.Publish(PresenceTopic(options_.stationId),
                    PresencePayload("offline", options_.presence), kAtLeastOnce, true);
    const auto until = std::chrono::steady_clock::now() + kGoodbyeWait;
    while (client_.Connected() && !inflight_.empty() && std::chrono::steady_clock::now() < until) {
      client_.Poll(kPoll);
    }
    client_.Poll(kPoll);
    client_.Disconnect();
  }
  connected_ = false;
}

void Publisher::OnConnected() {
  inflight_.clear();
  cursor_ = 0;
  const auto& station = options_.stationId;
  client_.Subscribe(PriceCommandTopic(station), kAtLeastOnce);
  client_.Subscribe(ReceiptTopic(station), kAtLeastOnce);
  client_.Publish(PresenceTopic(station), PresencePayload("online", options_.presence),
                  kAtLeastOnce, true);
  // Every pump's latest state again: the broker may have lost the retained ones.
  const std::lock_guard lock(liveMutex_);
  for (auto& [pump, live] : live_) live.pending = !live.state.is_null();
}

void Publisher::OnAcknowledged(int id, int reason) {
  const auto found = inflight_.find(id);
  if (found == inflight_.end()) return;  // presence, or a previous connection's
  const auto seq = found->second;
  inflight_.erase(found);
  if (reason >= kFirstRefusalReason) {
    std::fprintf(stderr, "fleet: the broker refused outbox row %lld (reason %d)\n",
                 static_cast<long long>(seq), reason);
    return;  // sent again on the next rescan
  }
  Outbox::MarkAcknowledged(sql_, seq, NowMs());
}

void Publisher::OnMessage(const std::string& topic, const std::string& payload) {
  if (topic == ReceiptTopic(options_.stationId)) {
    const auto receipt = nlohmann::json::parse(payload, nullptr, false);
    if (!receipt.is_object() || receipt.value("schema", 0) != kSchemaVersion ||
        !receipt.contains("seq") || !receipt["seq"].is_array()) {
      return;
    }
    std::vector<std::int64_t> seqs;
    for (const auto& seq : receipt["seq"]) {
      if (seq.is_number_integer()) seqs.push_back(seq.get<std::int64_t>());
    }
    Outbox::MarkConfirmed(sql_, seqs, NowMs());
  } else if (topic == PriceCommandTopic(options_.stationId) && commands_) {
    commands_->Receive(payload);
  }
}

std::string Publisher::Envelope(const OutboxMessage& message) const {
  nlohmann::json envelope{
      {"schema", kSchemaVersion}, {"station", options_.stationId},
      {"seq", message.seq},       {"kind", KindName(message.kind)},
      {"id", message.recordId},   {"version", message.version},
      {"at", message.createdAt},  {"data", nlohmann::json::parse(message.data, nullptr, false)},
  };
  return envelope.dump();
}

void Publisher::SendDue() {
  const int room = kWindow - static_cast<int>(inflight_.size());
  if (room <= 0) return;
  const auto now = std::chrono::steady_clock::now();
  const auto stale = NowMs() - options_.resendAfter.count();
  auto due = Outbox::Due(sql_, cursor_, stale, room);
  if (due.empty() && cursor_ > 0 && inflight_.empty() && now >= nextRescan_) {
    // From the start again: rows whose receipt never came are due by now.
    cursor_ = 0;
    nextRescan_ =
        now + std::min<std::chrono::milliseconds>(options_.resendAfter, std::chrono::seconds(1));
    return;
  }
  for (const auto& message : due) {
    const auto id = client_.Publish(RecordTopic(options_.stationId, message.kind),
                                    Envelope(message), kAtLeastOnce, false);
    if (!id) return;  // the connection went: OnConnected starts over
    inflight_[*id] = message.seq;
    cursor_ = message.seq;
  }
}

void Publisher::SendLive() {
  const auto now = std::chrono::steady_clock::now();
  const std::lock_guard lock(liveMutex_);
  for (auto& [pump, live] : live_) {
    if (!live.pending || now - live.sentAt < options_.liveInterval) continue;
    nlohmann::json payload{{"schema", kSchemaVersion}, {"at", UtcNow()}, {"state", live.state}};
    if (client_.Publish(LiveTopic(options_.stationId, pump.first, pump.second), payload.dump(),
                        kAtMostOnce, true)) {
      live.pending = false;
      live.sentAt = now;
    }
  }
}

}  // namespace quorlan::fleet
