// SPDX-License-Identifier: Apache-2.0
#include "station/model/Settlement.h"

#include <fmt/format.h>

namespace quorlan::station {

namespace {

SettlementResult Refuse(const Settlement& settlement, SettlementRefusal why) {
  return {settlement, false, why};
}

std::optional<SettlementRefusal> NotPayable(SaleStage stage) {
  switch (stage) {
    case SaleStage::Open:
      return SettlementRefusal::NotCompleted;
    case SaleStage::Cancelled:
      return SettlementRefusal::Cancelled;
    case SaleStage::Completed:
      break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> LockHolder(const Settlement& settlement, Instant now) {
  if (!settlement.lockedBy || !settlement.lockedUntil || *settlement.lockedUntil <= now) {
    return std::nullopt;
  }
  return settlement.lockedBy;
}

Settlement Current(const Settlement& settlement, Instant now) {
  Settlement current = settlement;
  if (!LockHolder(settlement, now)) {
    current.lockedBy.reset();
    current.lockedUntil.reset();
  }
  return current;
}

SettlementResult Lock(SaleStage stage, const Settlement& settlement, const std::string& caller,
                      Instant now) {
  if (const auto why = NotPayable(stage)) return Refuse(settlement, *why);
  if (settlement.paid) return Refuse(settlement, SettlementRefusal::AlreadyPaid);
  const auto holder = LockHolder(settlement, now);
  if (holder && *holder != caller) return Refuse(settlement, SettlementRefusal::LockedByAnother);
  Settlement locked = settlement;
  locked.lockedBy = caller;
  locked.lockedUntil = now + kLockTime;
  return {locked, true, std::nullopt};
}

SettlementResult Unlock(const Settlement& settlement, const std::string& caller, bool admin,
                        Instant now) {
  const auto holder = LockHolder(settlement, now);
  if (!holder) {
    // An expired lock still written is dropped quietly: nobody holds it.
    return {Current(settlement, now), false, std::nullopt};
  }
  if (*holder != caller && !admin) return Refuse(settlement, SettlementRefusal::LockedByAnother);
  Settlement released = settlement;
  released.lockedBy.reset();
  released.lockedUntil.reset();
  return {released, true, std::nullopt};
}

SettlementResult Clear(SaleStage stage, const Settlement& settlement, const std::string& caller,
                       const std::optional<std::string>& reference, Instant now) {
  if (const auto why = NotPayable(stage)) return Refuse(settlement, *why);
  if (settlement.paid) {
    if (settlement.reference != reference) {
      return Refuse(settlement, SettlementRefusal::PaidWithAnotherReference);
    }
    return {Current(settlement, now), false, std::nullopt};
  }
  const auto holder = LockHolder(settlement, now);
  if (holder && *holder != caller) return Refuse(settlement, SettlementRefusal::LockedByAnother);
  Settlement paid = settlement;
  paid.paid = true;
  paid.paidBy = caller;
  paid.paidAt = now;
  paid.reference = reference;
  paid.lockedBy.reset();
  paid.lockedUntil.reset();
  return {paid, true, std::nullopt};
}

bool ValidReference(std::string_view reference) {
  std::size_t characters = 0;
  for (const char c : reference) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
    if ((byte & 0xc0) != 0x80) ++characters;  // UTF-8: continuation bytes start 10xxxxxx
  }
  return characters > 0 && characters <= kMaxReference;
}

std::string RefusalDetail(SettlementRefusal refusal, std::int64_t fillId,
                          const Settlement& settlement) {
  switch (refusal) {
    case SettlementRefusal::NotCompleted:
      return fmt::format("fill {} is not completed yet", fillId);
    case SettlementRefusal::Cancelled:
      return fmt::format("fill {} was cancelled: nothing to pay", fillId);
    case SettlementRefusal::AlreadyPaid:
      return fmt::format("fill {} is already paid", fillId);
    case SettlementRefusal::LockedByAnother:
      return fmt::format("fill {} is locked by {} until {}", fillId,
                         settlement.lockedBy.value_or("another till"),
                         settlement.lockedUntil ? FormatUtc(*settlement.lockedUntil) : "");
    case SettlementRefusal::PaidWithAnotherReference:
      return fmt::format("fill {} is already paid with reference '{}'", fillId,
                         settlement.reference.value_or(""));
  }
  return fmt::format("fill {} cannot be settled", fillId);
}

}  // namespace quorlan::station
