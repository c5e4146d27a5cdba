// SPDX-License-Identifier: Apache-2.0
#include "station/journal/Idempotency.h"

#include <openssl/evp.h>

#include <array>
#include <stdexcept>

namespace quorlan::station {

bool ValidIdempotencyKey(std::string_view key) {
  if (key.empty() || key.size() > kMaxIdempotencyKey) return false;
  for (const char c : key) {
    if (c < 0x21 || c > 0x7e) return false;
  }
  return true;
}

std::string BodyHash(std::string_view body) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (EVP_Digest(body.data(), body.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

std::string RequestId(const IdempotencyScope& scope) {
  // Each part with its length: no two scopes make the same text.
  std::string text;
  for (const std::string* part : {&scope.token, &scope.method, &scope.path, &scope.key}) {
    text += std::to_string(part->size()) + ":" + *part;
  }
  return BodyHash(text);
}

Idempotency::Decision Idempotency::Begin(const IdempotencyScope& scope, const std::string& bodyHash,
                                         Instant now) {
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto running = running_.find(scope);
    if (running == running_.end()) break;
    // Another body is refused at once: it would not get the first's answer.
    if (running->second != bodyHash) return {Verdict::OtherBody, {}};
    ++waiting_;
    finished_.wait(lock);
    --waiting_;
  }
  // Storage is read under the lock, so that two first requests cannot both run.
  if (const auto record = storage_.Find(scope, now - kIdempotencyRetention)) {
    if (record->bodyHash != bodyHash) return {Verdict::OtherBody, {}};
    if (record->answer.status == kNoAnswerYet) return {Verdict::Interrupted, {}};
    return {Verdict::Replay, record->answer};
  }
  running_.emplace(scope, bodyHash);
  lock.unlock();
  try {
    storage_.Save(scope, {bodyHash, {kNoAnswerYet, "", ""}, now}, now - kIdempotencyRetention);
  } catch (...) {
    Release(scope);
    throw;
  }
  return {Verdict::Run, {}};
}

void Idempotency::Finish(const IdempotencyScope& scope, const std::string& bodyHash,
                         const StoredAnswer& answer, Instant now) {
  struct Releasing {
    Idempotency& self;
    const IdempotencyScope& scope;
    ~Releasing() { self.Release(scope); }
  } releasing{*this, scope};
  // Written before the scope is released: a repeat finds it stored.
  storage_.Save(scope, {bodyHash, answer, now}, now - kIdempotencyRetention);
}

void Idempotency::Settle(const IdempotencyScope& scope, const std::string& bodyHash,
                         const StoredAnswer& answer, Instant now) {
  std::lock_guard lock(mutex_);
  // A first that runs again meanwhile (its record expired) has the last word.
  if (running_.contains(scope)) return;
  storage_.Save(scope, {bodyHash, answer, now}, now - kIdempotencyRetention);
}

void Idempotency::Abandon(const IdempotencyScope& scope) {
  try {
    storage_.Forget(scope);
  } catch (...) {
    // The key stays taken: a repeat is told its first was cut off.
  }
  Release(scope);
}

void Idempotency::Release(const IdempotencyScope& scope) {
  {
    std::lock_guard lock(mutex_);
    running_.erase(scope);
  }
  finished_.notify_all();
}

int Idempotency::Waiting() {
  std::lock_guard lock(mutex_);
  return waiting_;
}

std::optional<IdempotencyRecord> IdempotencyJournal::Find(const IdempotencyScope& scope,
                                                          Instant since) {
  return database_.Locked([&](sql::Database& db) -> std::optional<IdempotencyRecord> {
    auto query = db.Prepare(
        "SELECT body_hash, status, content_type, body, created_at FROM idempotency "
        "WHERE token = ? AND method = ? AND path = ? AND key = ? AND created_at >= ?");
    query.Bind(1, scope.token)
        .Bind(2, scope.method)
        .Bind(3, scope.path)
        .Bind(4, scope.key)
        .Bind(5, std::int64_t{since.time_since_epoch().count()});
    if (!query.Step()) return std::nullopt;
    return IdempotencyRecord{query.Text(0),
                             {static_cast<int>(query.Integer(1)), query.Text(2), query.Text(3)},
                             Instant{std::chrono::milliseconds{query.Integer(4)}}};
  });
}

void IdempotencyJournal::Save(const IdempotencyScope& scope, const IdempotencyRecord& record,
                              Instant forgetBefore) {
  database_.Writing([&](sql::Database& db) {
    sql::Transaction transaction(db);
    db.Prepare("DELETE FROM idempotency WHERE created_at < ?")
        .Bind(1, std::int64_t{forgetBefore.time_since_epoch().count()})
        .Run();
    // The answer replaces the key's reservation; an expired record gives way.
    db.Prepare(
          "INSERT INTO idempotency(token, method, path, key, body_hash, status, content_type, "
          "body, created_at) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?) "
          "ON CONFLICT(token, method, path, key) DO UPDATE SET body_hash = excluded.body_hash, "
          "status = excluded.status, content_type = excluded.content_type, body = excluded.body, "
          "created_at = excluded.created_at")
        .Bind(1, scope.token)
        .Bind(2, scope.method)
        .Bind(3, scope.path)
        .Bind(4, scope.key)
        .Bind(5, record.bodyHash)
        .Bind(6, std::int64_t{record.answer.status})
        .Bind(7, record.answer.contentType)
        .Bind(8, record.answer.body)
        .Bind(9, std::int64_t{record.createdAt.time_since_epoch().count()})
        .Run();
    Database::Commit(transaction);
  });
}

void IdempotencyJournal::Forget(const IdempotencyScope& scope) {
  database_.Writing([&](sql::Database& db) {
    db.Prepare("DELETE FROM idempotency WHERE token = ? AND method = ? AND path = ? AND key = ?")
        .Bind(1, scope.token)
        .Bind(2, scope.method)
        .Bind(3, scope.path)
        .Bind(4, scope.key)
        .Run();
  });
}

}  // namespace quorlan::station
