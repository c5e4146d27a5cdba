#include "commands/DriverState.h"

#include "commands/NozzleStates.h"

namespace quorlan {

DriverState::DriverState(TPortDispatcher& port, Logger& logger, bool amountFromVolumeFlag,
                         PriceSource source, ReplyDigits digits)
    : link(port, logger),
      amountFromVolume(amountFromVolumeFlag),
      priceSource(source),
      replyDigits(digits) {
  const int placeholderStep = source == PriceSource::Placeholders ? 1111 : 0;
  for (int c = 1; c <= kChannels; ++c) {
    link.LinkState(c) = kLinkGood;
    for (int d = 1; d <= kDispensers; ++d) {
      for (int g = 1; g <= kGrades; ++g) prices[c][d][g] = placeholderStep * g;
    }
  }
  // Row 0 of the byte tables belongs to no line and stays zero.
  for (int c = 1; c <= kChannels; ++c) {
    nozzleState[c].Fill(kStateIdle + 1);
    currentGrade[c].Fill(1);
    priceDirty[c].Fill(1);
  }
}

}  // namespace quorlan
