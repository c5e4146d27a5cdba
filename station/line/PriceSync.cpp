// SPDX-License-Identifier: Apache-2.0
#include "station/line/PriceSync.h"

namespace quorlan::station {

Link LinkOf(std::uint32_t code) {
  switch (static_cast<LinkError>(code)) {
    case LinkError::LineFailure:
      return Link::LineDown;
    case LinkError::BadLength:
    case LinkError::BadComplement:
    case LinkError::VerifierException:
    case LinkError::BadDigit:
      return Link::BadReply;
    default:
      return Link::NoReply;
  }
}

PriceSync::PriceSync(Driver& driver, LineGate& gate, Store& store, int channel,
                     const std::vector<int>& dispensers)
    : driver_(driver), gate_(gate), store_(store), channel_(channel) {
  for (int d : dispensers) {
    deferred_[d] = false;
    held_[d] = Held{};
  }
}

void PriceSync::Load(int dispenser) {
  for (const PriceEntry& entry : store_.prices.Of(channel_, dispenser)) {
    driver_.SetPrice(static_cast<quorlan::Channel>(entry.channel),
                     static_cast<quorlan::Dispenser>(entry.dispenser),
                     static_cast<Grade>(entry.grade), FromCents(entry.price));
  }
}

DownloadResult PriceSync::Download(int dispenser) {
  Load(dispenser);
  const auto c = static_cast<quorlan::Channel>(channel_);
  const auto d = static_cast<quorlan::Dispenser>(dispenser);
  Held& held = held_[dispenser];
  Table table{};
  for (Grade g = 1; g <= kTableGrades; ++g) {
    const auto price = driver_.Price(c, d, g);
    if (!price) {
      held = {true, std::nullopt};
      return {Download::Incomplete, Link::Ok, ""};
    }
    table[g - 1] = RoundCents(*price);
  }
  // Until the dispenser acknowledges, it may hold the old table or the new.
  held = {};
  try {
    const auto turn = gate_.Take();
    driver_.DownloadPrices(c, d);
    held = {true, table};
    return {Download::Downloaded, Link::Ok, ""};
  } catch (const LinkFailure& error) {
    deferred_[dispenser] = true;
    return {Download::LinkFailed, LinkOf(error.Code()), ""};
  } catch (const NoPrice& error) {
    return {Download::Refused, Link::Ok, error.what()};
  }
}

void PriceSync::Defer(int dispenser) {
  deferred_[dispenser] = true;
}

bool PriceSync::Deferred(int dispenser) const {
  const auto at = deferred_.find(dispenser);
  return at != deferred_.end() && at->second;
}

bool PriceSync::Known(int dispenser) const {
  return held_.at(dispenser).known;
}

void PriceSync::Forget(int dispenser) {
  held_[dispenser] = {};
}

std::optional<Cents> PriceSync::Charged(int dispenser, int grade) const {
  const Held& held = held_.at(dispenser);
  if (held.table && grade >= 1 && grade <= kTableGrades) {
    return (*held.table)[static_cast<std::size_t>(grade - 1)];
  }
  const auto price =
      driver_.Price(static_cast<quorlan::Channel>(channel_),
                    static_cast<quorlan::Dispenser>(dispenser), static_cast<Grade>(grade));
  if (!price) return std::nullopt;
  return RoundCents(*price);
}

std::optional<DownloadResult> PriceSync::SendDeferred(int dispenser) {
  if (!Deferred(dispenser)) return std::nullopt;
  deferred_[dispenser] = false;
  return Download(dispenser);
}

}  // namespace quorlan::station
