// SPDX-License-Identifier: Apache-2.0
// Idempotent commands: a repeat gets the first answer, waits for a first
// still running, and another body is refused.

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <thread>

#include "station/journal/Idempotency.h"

namespace quorlan::station {
namespace {

using namespace std::chrono_literals;

class MemoryStorage : public IdempotencyStorage {
 public:
  std::optional<IdempotencyRecord> Find(const IdempotencyScope& scope, Instant since) override {
    std::lock_guard lock(mutex_);
    const auto at = records_.find(scope);
    if (at == records_.end() || at->second.createdAt < since) return std::nullopt;
    return at->second;
  }
  void Save(const IdempotencyScope& scope, const IdempotencyRecord& record,
            Instant forgetBefore) override {
    std::lock_guard lock(mutex_);
    // As another process's lock would: the key was taken, its answer is not stored.
    if (refuseAnswers && record.answer.status != kNoAnswerYet) {
      throw std::runtime_error("the database is locked");
    }
    std::erase_if(records_,
                  [&](const auto& entry) { return entry.second.createdAt < forgetBefore; });
    records_.insert_or_assign(scope, record);
  }
  void Forget(const IdempotencyScope& scope) override {
    std::lock_guard lock(mutex_);
    records_.erase(scope);
  }
  bool refuseAnswers = false;
  std::size_t Size() {
    std::lock_guard lock(mutex_);
    return records_.size();
  }

 private:
  std::mutex mutex_;
  std::map<IdempotencyScope, IdempotencyRecord> records_;
};

const Instant kNow = Instant{} + 1'000'000s;
const IdempotencyScope kScope{"pos-1", "POST", "/api/v1/dispensers/1/2/authorize", "k-1"};
const StoredAnswer kAnswer{200, "application/json", R"({"fill_id":7})"};

TEST(Idempotency, KeysAreOneToSixtyFourVisibleAsciiCharacters) {
  EXPECT_TRUE(ValidIdempotencyKey("a"));
  EXPECT_TRUE(ValidIdempotencyKey(std::string(64, '~')));
  EXPECT_TRUE(ValidIdempotencyKey("3f2a-9c!x"));
  for (const std::string& bad :
       {std::string(), std::string(65, 'a'), std::string("a b"), std::string("tab\t"),
        std::string("\xc3\xbc"), std::string("nul\0", 4)}) {
    EXPECT_FALSE(ValidIdempotencyKey(bad)) << bad;
  }
  EXPECT_EQ(BodyHash("").size(), 64U);
  EXPECT_NE(BodyHash(R"({"grade":1})"), BodyHash(R"({"grade":2})"));
}

TEST(Idempotency, RepeatGetsTheFirstAnswerAndAnotherBodyIsRefused) {
  MemoryStorage storage;
  Idempotency idempotency(storage);
  const std::string body = BodyHash(R"({"grade":1})");
  ASSERT_EQ(idempotency.Begin(kScope, body, kNow).verdict, Idempotency::Verdict::Run);
  idempotency.Finish(kScope, body, kAnswer, kNow);

  const auto repeat = idempotency.Begin(kScope, body, kNow + 1h);
  EXPECT_EQ(repeat.verdict, Idempotency::Verdict::Replay);
  EXPECT_EQ(repeat.answer.status, 200);
  EXPECT_EQ(repeat.answer.body, kAnswer.body);
  EXPECT_EQ(idempotency.Begin(kScope, BodyHash(R"({"grade":2})"), kNow).verdict,
            Idempotency::Verdict::OtherBody);

  // The same key is another key for another token, method or path.
  IdempotencyScope otherToken = kScope;
  IdempotencyScope otherMethod = kScope;
  IdempotencyScope otherPath = kScope;
  otherToken.token = "pos-2";
  otherMethod.method = "PUT";
  otherPath.path = "/api/v1/stop";
  for (const auto& other : {otherToken, otherMethod, otherPath}) {
    EXPECT_EQ(idempotency.Begin(other, body, kNow).verdict, Idempotency::Verdict::Run);
    idempotency.Abandon(other);
  }
  // Kept 24 hours, then the key is new again.
  EXPECT_EQ(idempotency.Begin(kScope, body, kNow + kIdempotencyRetention + 1ms).verdict,
            Idempotency::Verdict::Run);
}

TEST(Idempotency, RepeatWhileTheFirstRunsWaitsForItsAnswer) {
  MemoryStorage storage;
  Idempotency idempotency(storage);
  const std::string body = BodyHash("{}");
  ASSERT_EQ(idempotency.Begin(kScope, body, kNow).verdict, Idempotency::Verdict::Run);
  auto repeat =
      std::async(std::launch::async, [&] { return idempotency.Begin(kScope, body, kNow); });
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (idempotency.Waiting() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(idempotency.Waiting(), 1);
  // Another body does not wait behind it.
  EXPECT_EQ(idempotency.Begin(kScope, BodyHash("[]"), kNow).verdict,
            Idempotency::Verdict::OtherBody);
  idempotency.Finish(kScope, body, kAnswer, kNow);
  const auto answer = repeat.get();
  EXPECT_EQ(answer.verdict, Idempotency::Verdict::Replay);
  EXPECT_EQ(answer.answer.body, kAnswer.body);
  EXPECT_EQ(storage.Size(), 1U);
}

TEST(Idempotency, FirstThatFailsLetsTheRepeatRun) {
  MemoryStorage storage;
  Idempotency idempotency(storage);
  const std::string body = BodyHash("{}");
  std::future<Idempotency::Decision> repeat;
  {
    ASSERT_EQ(idempotency.Begin(kScope, body, kNow).verdict, Idempotency::Verdict::Run);
    IdempotencyTicket ticket(idempotency, kScope, body);
    repeat = std::async(std::launch::async, [&] { return idempotency.Begin(kScope, body, kNow); });
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (idempotency.Waiting() == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    // The ticket ends unfinished, as when the handler throws.
  }
  EXPECT_EQ(repeat.get().verdict, Idempotency::Verdict::Run);
  EXPECT_EQ(storage.Size(), 1U);  // the repeat took the key
}

TEST(Idempotency, AFirstCutOffByARestartIsNeverRunAgain) {
  MemoryStorage storage;
  const std::string body = BodyHash("{}");
  {
    Idempotency before(storage);
    ASSERT_EQ(before.Begin(kScope, body, kNow).verdict, Idempotency::Verdict::Run);
    // The process dies here: no Finish, no Abandon.
  }
  Idempotency after(storage);
  EXPECT_EQ(after.Begin(kScope, body, kNow + 1s).verdict, Idempotency::Verdict::Interrupted);
  EXPECT_EQ(after.Begin(kScope, BodyHash("[]"), kNow + 1s).verdict,
            Idempotency::Verdict::OtherBody);
}

// An answer was given though it could not be stored: the command is never
// run a second time; a repeat learns the outcome as after a restart, and
// what it learned is kept.
TEST(Idempotency, AnAnswerThatCannotBeStoredKeepsTheKeyTaken) {
  MemoryStorage storage;
  Idempotency idempotency(storage);
  const std::string body = BodyHash("{}");
  ASSERT_EQ(idempotency.Begin(kScope, body, kNow).verdict, Idempotency::Verdict::Run);
  storage.refuseAnswers = true;
  {
    IdempotencyTicket ticket(idempotency, kScope, body);
    EXPECT_THROW(ticket.Finish(kAnswer, kNow), std::runtime_error);
  }
  storage.refuseAnswers = false;
  EXPECT_EQ(idempotency.Begin(kScope, body, kNow + 1s).verdict, Idempotency::Verdict::Interrupted);
  idempotency.Settle(kScope, body, kAnswer, kNow + 1s);
  const auto repeat = idempotency.Begin(kScope, body, kNow + 2s);
  EXPECT_EQ(repeat.verdict, Idempotency::Verdict::Replay);
  EXPECT_EQ(repeat.answer.body, kAnswer.body);
}

}  // namespace
}  // namespace quorlan::station
