#include "commands/TransactionReadout.h"

#include "commands/Messages.h"
#include "link/Protocol.h"

namespace quorlan {

double ReadTransaction(DriverState& s, std::uint32_t c, std::uint32_t d, double& amount) {
  s.Info("GET DATA TRANSACTION");
  double volume = 0.0;
  amount = 0.0;
  const std::uint8_t channel = AsByte(c);
  const std::uint8_t dispenser = AsByte(d);
  ReplyBuffer reply{};
  if (s.link.Transact(channel, dispenser, requests::kStatus.ReplyLength(), 0, reply,
                      requests::kStatus.command) != 0) {
    throw ESerialIO(messages::kTransactionRequest);
  }
  // The reply only proves the dispenser answers; the figures are the last poll's.
  if (s.link.LinkState(CheckRange<1, kChannels>(channel)) == kLinkGood) {
    amount = s.amount[channel][CheckRange<1, kDispensers>(dispenser)];
    volume = s.volume[channel][dispenser];
  }
  return volume;
}

}  // namespace quorlan
