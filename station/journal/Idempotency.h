// SPDX-License-Identifier: Apache-2.0
#pragma once
// Commands a client may send again without them acting twice. A key is
// scoped to the token, the method and the path; its first answer is kept
// (in the database, through the storage below) and given again to every
// repeat with the same body. A repeat that arrives while the first still
// runs waits for its answer.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "station/base/Instant.h"
#include "station/journal/Database.h"

namespace quorlan::station {

inline constexpr std::size_t kMaxIdempotencyKey = 64;
inline constexpr std::chrono::hours kIdempotencyRetention{24};

// 1..64 visible ASCII characters (0x21..0x7e).
bool ValidIdempotencyKey(std::string_view key);
// SHA-256 of the body, as hexadecimal digits.
std::string BodyHash(std::string_view body);

struct IdempotencyScope {
  std::string token;
  std::string method;
  std::string path;
  std::string key;
  friend auto operator<=>(const IdempotencyScope&, const IdempotencyScope&) = default;
};

// The scope as one word (hexadecimal digits), for the rows its command writes.
std::string RequestId(const IdempotencyScope& scope);

// The status of a key taken before its command ran, with no answer yet.
inline constexpr int kNoAnswerYet = 0;

struct StoredAnswer {
  int status = 200;
  std::string contentType;
  std::string body;
};

struct IdempotencyRecord {
  std::string bodyHash;
  StoredAnswer answer;
  Instant createdAt;
};

// Where answers outlive the process. Find sees only records newer than
// `since`; Save writes the record of a scope (a key first taken, then its
// answer) and forgets records older than `forgetBefore` in the same write;
// Forget drops a scope's record.
class IdempotencyStorage {
 public:
  virtual ~IdempotencyStorage() = default;
  virtual std::optional<IdempotencyRecord> Find(const IdempotencyScope& scope, Instant since) = 0;
  virtual void Save(const IdempotencyScope& scope, const IdempotencyRecord& record,
                    Instant forgetBefore) = 0;
  virtual void Forget(const IdempotencyScope& scope) = 0;
};

// The answers in the journal's database, kept kIdempotencyRetention.
class IdempotencyJournal : public IdempotencyStorage {
 public:
  explicit IdempotencyJournal(Database& database) : database_(database) {}
  std::optional<IdempotencyRecord> Find(const IdempotencyScope& scope, Instant since) override;
  void Save(const IdempotencyScope& scope, const IdempotencyRecord& record,
            Instant forgetBefore) override;
  void Forget(const IdempotencyScope& scope) override;

 private:
  Database& database_;
};

class Idempotency {
 public:
  explicit Idempotency(IdempotencyStorage& storage) : storage_(storage) {}

  enum class Verdict : std::uint8_t {
    Run,        // the first: act, then Finish
    Replay,     // a repeat: give `answer`
    OtherBody,  // the key was used with another body: 422
    // The first's answer was never kept (a restart cut it off, the database
    // refused it, or it failed after it may have acted): its outcome is unknown.
    Interrupted,
  };
  struct Decision {
    Verdict verdict = Verdict::Run;
    StoredAnswer answer;
  };

  // Waits while a request of the same scope runs. A Run has taken the key in
  // the storage, so that a restart never runs it twice, and must be followed
  // by Finish or Abandon (Ticket does it), or repeats wait for ever.
  Decision Begin(const IdempotencyScope& scope, const std::string& bodyHash, Instant now);
  // Stores the answer, then lets the waiting repeats read it.
  void Finish(const IdempotencyScope& scope, const std::string& bodyHash,
              const StoredAnswer& answer, Instant now);
  // The first ended without an answer (it threw): the key is free again and
  // a waiting repeat runs itself.
  void Abandon(const IdempotencyScope& scope);
  // Keeps the answer a repeat of an interrupted first learned, for the
  // repeats after it.
  void Settle(const IdempotencyScope& scope, const std::string& bodyHash,
              const StoredAnswer& answer, Instant now);
  // Repeats now waiting for a first answer.
  int Waiting();
  // Lets the repeats waiting for a first go on, the key's record as it is.
  void Release(const IdempotencyScope& scope);

 private:
  IdempotencyStorage& storage_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::map<IdempotencyScope, std::string> running_;  // scope -> body hash
  int waiting_ = 0;
};

// Ends a Run with Abandon unless it was finished.
class IdempotencyTicket {
 public:
  IdempotencyTicket(Idempotency& idempotency, IdempotencyScope scope, std::string bodyHash)
      : idempotency_(idempotency), scope_(std::move(scope)), bodyHash_(std::move(bodyHash)) {}
  ~IdempotencyTicket() {
    if (!done_) idempotency_.Abandon(scope_);
  }
  IdempotencyTicket(const IdempotencyTicket&) = delete;
  IdempotencyTicket& operator=(const IdempotencyTicket&) = delete;
  // An answer was given: the key is never freed for a second run, also
  // when the answer cannot be stored (the key then stays taken, unanswered).
  void Finish(const StoredAnswer& answer, Instant now) {
    done_ = true;
    idempotency_.Finish(scope_, bodyHash_, answer, now);
  }
  // The command failed but may have acted: the key stays taken, unanswered,
  // and a repeat learns the outcome as after a restart.
  void Keep() {
    done_ = true;
    idempotency_.Release(scope_);
  }

 private:
  Idempotency& idempotency_;
  IdempotencyScope scope_;
  std::string bodyHash_;
  bool done_ = false;
};

}  // namespace quorlan::station
