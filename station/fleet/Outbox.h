// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station's outbox: every record head office must get, written in the
// same transaction as the change itself, kept until head office confirms
// that it committed it. A row is acknowledged when the broker took it and
// confirmed when head office's receipt arrives; only confirmed rows are done.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "Sql.h"
#include "Topics.h"

namespace quorlan::fleet {

struct OutboxMessage {
  std::int64_t seq = 0;
  Kind kind = Kind::Fill;
  std::string recordId;
  std::int64_t version = 0;
  std::string data;  // JSON text
  std::string createdAt;
};

// The time now, RFC 3339 in UTC with milliseconds.
std::string UtcNow();

class Outbox {
 public:
  // Creates the tables when missing; run it with the station's migrations.
  static std::string_view Schema();

  // Inside the caller's transaction. `version` grows with every change of
  // the record (a fill authorized, filling, completed, paid...), so head
  // office keeps each state once.
  static void Add(Sql& sql, Kind kind, std::string_view recordId, std::int64_t version,
                  const nlohmann::json& data);

  // Not yet confirmed, after `afterSeq`, in order; rows the broker
  // acknowledged are due again only when that was before `staleBeforeMs`.
  static std::vector<OutboxMessage> Due(Sql& sql, std::int64_t afterSeq, std::int64_t staleBeforeMs,
                                        int limit);
  static void MarkAcknowledged(Sql& sql, std::int64_t seq, std::int64_t nowMs);
  static void MarkConfirmed(Sql& sql, const std::vector<std::int64_t>& seqs, std::int64_t nowMs);
  static std::int64_t Unconfirmed(Sql& sql);
  // Confirmed rows older than this go: the station's own journal keeps the records.
  static void Prune(Sql& sql, std::int64_t confirmedBeforeMs);
};

}  // namespace quorlan::fleet
