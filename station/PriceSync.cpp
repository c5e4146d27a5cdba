// SPDX-License-Identifier: Apache-2.0
#include "station/PriceSync.h"

namespace quorlan::station {

Link LinkOf(std::uint32_t code) {
  switch (static_cast<LinkError>(code)) {
    case LinkError::LineFailure:
      return Link::LineDown;
    case LinkError::BadLength:
    case LinkError::BadComplement:
    case LinkError::VerifierException:
      return Link::BadReply;
    default:
      return Link::NoReply;
  }
}

PriceSync::PriceSync(Driver& driver, Store& store, int channel, const std::vector<int>& dispensers)
    : driver_(driver), store_(store), channel_(channel) {
  for (int d : dispensers) deferred_[d] = false;
}

void PriceSync::Load(int dispenser) {
  for (const PriceEntry& entry : store_.PricesOf(channel_, dispenser)) {
    driver_.SetPrice(static_cast<quorlan::Channel>(entry.channel),
                     static_cast<quorlan::Dispenser>(entry.dispenser),
                     static_cast<Grade>(entry.grade), FromCents(entry.price));
  }
}

DownloadResult PriceSync::Download(int dispenser) {
  Load(dispenser);
  const auto c = static_cast<quorlan::Channel>(channel_);
  const auto d = static_cast<quorlan::Dispenser>(dispenser);
  for (Grade g = 1; g <= kTableGrades; ++g) {
    if (!driver_.Price(c, d, g)) return {Download::Incomplete, Link::Ok, ""};
  }
  try {
    driver_.DownloadPrices(c, d);
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

std::optional<DownloadResult> PriceSync::SendDeferred(int dispenser) {
  if (!Deferred(dispenser)) return std::nullopt;
  deferred_[dispenser] = false;
  return Download(dispenser);
}

}  // namespace quorlan::station
