// SPDX-License-Identifier: Apache-2.0
#pragma once
// Who may lock, unlock and clear a fill, and what each does to it. No
// database, no clock: the caller gives the fill as it stands and the time,
// and gets the fill as it must be written, or why it is refused.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "station/base/Instant.h"

namespace quorlan::station {

// A till's hold on a fill while it takes the money.
inline constexpr std::chrono::seconds kLockTime{120};
inline constexpr std::size_t kMaxReference = 64;

// The fill's life as settlement sees it: only a completed fill is money owed.
enum class SaleStage : std::uint8_t { Open, Completed, Cancelled };

struct Settlement {
  bool paid = false;
  std::optional<std::string> paidBy;
  std::optional<Instant> paidAt;
  std::optional<std::string> reference;
  std::optional<std::string> lockedBy;
  std::optional<Instant> lockedUntil;
  friend bool operator==(const Settlement&, const Settlement&) = default;
};

enum class SettlementRefusal : std::uint8_t {
  NotCompleted,     // authorized or filling: nothing to pay yet
  Cancelled,        // no fuel, no money
  AlreadyPaid,      // a lock on a paid fill
  LockedByAnother,  // another till holds it
  PaidWithAnotherReference,
};

struct SettlementResult {
  Settlement settlement;  // as it must be written, or as it stands
  bool changed = false;   // false: nothing to write, nothing to announce
  std::optional<SettlementRefusal> refusal;
};

// The lock a fill holds now: an expired one is no lock.
std::optional<std::string> LockHolder(const Settlement& settlement, Instant now);
// The settlement as clients see it now: an expired lock is gone.
Settlement Current(const Settlement& settlement, Instant now);

// Takes the fill for `caller` for kLockTime; a repeat by the holder renews.
SettlementResult Lock(SaleStage stage, const Settlement& settlement, const std::string& caller,
                      Instant now);
// Releases the caller's lock (an admin releases anyone's); a fill that is
// not locked stays as it is.
SettlementResult Unlock(const Settlement& settlement, const std::string& caller, bool admin,
                        Instant now);
// Marks the fill paid and releases its lock. A repeat with the same
// reference (or none both times) changes nothing and is no conflict: a till
// that lost the answer may clear again.
SettlementResult Clear(SaleStage stage, const Settlement& settlement, const std::string& caller,
                       const std::optional<std::string>& reference, Instant now);

// 1..kMaxReference characters (UTF-8) of printable text, no control characters.
bool ValidReference(std::string_view reference);
// One sentence for the problem answer.
std::string RefusalDetail(SettlementRefusal refusal, std::int64_t fillId,
                          const Settlement& settlement);

}  // namespace quorlan::station
