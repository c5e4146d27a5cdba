// SPDX-License-Identifier: Apache-2.0
#include "Outbox.h"

#include <chrono>
#include <ctime>

namespace quorlan::fleet {

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const auto seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const auto length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char result[48];
  std::snprintf(result, sizeof result, "%.*s.%03dZ", static_cast<int>(length), text,
                static_cast<int>(millis));
  return result;
}

std::string_view Outbox::Schema() {
  return R"sql(
CREATE TABLE IF NOT EXISTS fleet_outbox (
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  record_id TEXT NOT NULL,
  version INTEGER NOT NULL,
  data TEXT NOT NULL,
  created_at TEXT NOT NULL,
  acknowledged_ms INTEGER,
  confirmed_ms INTEGER
);
CREATE INDEX IF NOT EXISTS fleet_outbox_unconfirmed ON fleet_outbox (seq)
  WHERE confirmed_ms IS NULL;
CREATE TABLE IF NOT EXISTS fleet_commands (
  command_id TEXT PRIMARY KEY,
  received_at TEXT NOT NULL
);
)sql";
}

void Outbox::Add(Sql& sql, Kind kind, std::string_view recordId, std::int64_t version,
                 const nlohmann::json& data) {
  sql.Run(
      "INSERT INTO fleet_outbox (kind, record_id, version, data, created_at) "
      "VALUES (?1, ?2, ?3, ?4, ?5)",
      {std::string(KindName(kind)), std::string(recordId), version, data.dump(), UtcNow()});
}

std::vector<OutboxMessage> Outbox::Due(Sql& sql, std::int64_t afterSeq, std::int64_t staleBeforeMs,
                                       int limit) {
  std::vector<OutboxMessage> due;
  sql.Query(
      "SELECT seq, kind, record_id, version, data, created_at FROM fleet_outbox "
      "WHERE confirmed_ms IS NULL AND seq > ?1 "
      "AND (acknowledged_ms IS NULL OR acknowledged_ms < ?2) ORDER BY seq LIMIT ?3",
      {afterSeq, staleBeforeMs, std::int64_t{limit}}, [&](const SqlRow& row) {
        const auto kind = KindFromName(row.Text(1));
        if (!kind) return;  // written by a newer station version: not ours to send
        due.push_back(
            {row.Integer(0), *kind, row.Text(2), row.Integer(3), row.Text(4), row.Text(5)});
      });
  return due;
}

void Outbox::MarkAcknowledged(Sql& sql, std::int64_t seq, std::int64_t nowMs) {
  sql.Run("UPDATE fleet_outbox SET acknowledged_ms = ?2 WHERE seq = ?1 AND confirmed_ms IS NULL",
          {seq, nowMs});
}

void Outbox::MarkConfirmed(Sql& sql, const std::vector<std::int64_t>& seqs, std::int64_t nowMs) {
  if (seqs.empty()) return;
  SqlTransaction transaction(sql);
  for (const auto seq : seqs) {
    sql.Run("UPDATE fleet_outbox SET confirmed_ms = ?2 WHERE seq = ?1 AND confirmed_ms IS NULL",
            {seq, nowMs});
  }
  transaction.Commit();
}

std::int64_t Outbox::Unconfirmed(Sql& sql) {
  std::int64_t count = 0;
  sql.Query("SELECT count(*) FROM fleet_outbox WHERE confirmed_ms IS NULL", {},
            [&](const SqlRow& row) { count = row.Integer(0); });
  return count;
}

void Outbox::Prune(Sql& sql, std::int64_t confirmedBeforeMs) {
  sql.Run("DELETE FROM fleet_outbox WHERE confirmed_ms IS NOT NULL AND confirmed_ms < ?1",
          {confirmedBeforeMs});
}

}  // namespace quorlan::fleet
