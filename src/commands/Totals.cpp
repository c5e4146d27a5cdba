#include "commands/Totals.h"

#include "commands/Messages.h"
#include "link/Bcd.h"
#include "link/Protocol.h"

namespace quorlan {

namespace {

// BCD info bytes [first, last], least significant first, two decimals.
double Counter(const ReplyBuffer& reply, int first, int last) {
  std::int64_t value = 0;
  for (int i = last; i >= first; --i) value = value * 100 + BcdToInt(reply[2 * i]);
  return static_cast<double>(value) / 100;
}

}  // namespace

bool ReadTotals(DriverState& s, std::uint32_t c, std::uint32_t d, std::int32_t nozzle,
                double& volumeTotal, double& amountTotal) {
  volumeTotal = 0.0;
  amountTotal = 0.0;
  CheckRange<0, kChannels>(c);
  CheckRange<1, kDispensers>(d);
  const std::uint8_t selector =
      AsByte(kTotalsSelectorBase + 2 * (static_cast<std::int64_t>(nozzle) - 1));

  ReplyBuffer reply{};
  reply[0] = selector;
  if (s.link.Transact(c, static_cast<int>(d), requests::kTotals.ReplyLength(),
                      requests::kTotals.dataBytes, reply, requests::kTotals.command) != 0) {
    throw ESerialIO(messages::kTotalsRequest);
  }
  CheckRange<1, kChannels>(c);
  if (s.link.LinkState(c) != kLinkGood) return false;
  // A shortened reply lacks counter digits: both totals stay 0.
  if (s.link.ReceivedCount(c) < requests::kTotals.ReplyLength()) return false;
  for (int i = 0; i < requests::kTotals.replyInfoBytes; ++i) {
    if (!IsBcdByte(reply[2 * i])) {
      s.link.LinkState(c) = kLinkBad;
      return false;
    }
  }
  volumeTotal = Counter(reply, kTotalsVolumeFirst, kTotalsVolumeLast);
  amountTotal = Counter(reply, kTotalsAmountFirst, kTotalsAmountLast);
  return true;
}

}  // namespace quorlan
