#include "commands/Stop.h"

#include "commands/Messages.h"
#include "link/Protocol.h"

namespace quorlan {

void Stop(DriverState& s, std::uint32_t c, std::uint32_t d) {
  s.Info("COMMAND STOP");
  const std::uint8_t channel = AsByte(c);
  const std::uint8_t dispenser = AsByte(d);
  ReplyBuffer reply{};
  if (s.link.Transact(channel, dispenser, requests::kStop.ReplyLength(), 0, reply,
                      requests::kStop.command) != 0) {
    throw ESerialIO(messages::kStop);
  }
}

}  // namespace quorlan
