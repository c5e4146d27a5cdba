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

}  // namespace quorlan::station
