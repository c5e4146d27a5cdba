#include "commands/StatusPoll.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "commands/Messages.h"
#include "commands/NozzleStates.h"
#include "link/Bcd.h"
#include "link/Protocol.h"

namespace quorlan {

namespace {

// Named here rather than converted inside PollStatus: clang 14 crashes when a
// const local std::string is initialized straight from a _w1251 literal.
constexpr std::string_view kPollTrace = "ЗАПРОС СОСТОЯНИЯ("_w1251;

// Six BCD digits with two decimals, least significant info byte first.
double Decimal6(const ReplyBuffer& reply, int firstInfoByte) {
  const auto b = [&reply](int i) { return static_cast<double>(BcdToInt(reply[2 * i])); };
  return b(firstInfoByte + 2) * 100 + b(firstInfoByte + 1) + b(firstInfoByte) / 100;
}

// True when every digit of the amount and volume fields is decimal.
bool FiguresAreDecimal(const ReplyBuffer& reply) {
  for (int i = kStatusAmountByte; i < kStatusByteIndex; ++i) {
    if (!IsBcdByte(reply[2 * i])) return false;
  }
  return true;
}

// The money amount of the fill from its volume at the authorized grade's
// price, snapped to the money preset when it is less than 0.01 volume units
// away. A price of 0 or below skips the snap: the distance in volume units
// would divide by zero or always be negative.
double AmountFromVolume(DriverState& s, std::uint32_t c, std::uint32_t d) {
  const auto grade = CheckRange<1, kGrades>(s.currentGrade[c][d]);
  const double price = s.prices[c][d][grade];
  const auto hundredths = static_cast<std::int64_t>(price * s.volume[c][d] + 0.5);
  double amount = static_cast<double>(hundredths) / 100;
  const double preset = s.presetAmount[c][d];
  if (price > 0 && std::fabs(preset - amount) * 100 / price < 0.01) amount = preset;
  return amount;
}

}  // namespace

PollResult PollDispenser(DriverState& s, std::uint32_t c, std::uint32_t d) {
  const std::string prefix = std::string(kPollTrace) + std::to_string(c);
  s.Trace(prefix + ")");
  const std::uint8_t channel = AsByte(c);
  const std::uint8_t dispenser = AsByte(d);
  ReplyBuffer reply{};
  if (s.link.Transact(channel, dispenser, requests::kStatus.ReplyLength(), 0, reply,
                      requests::kStatus.command) != 0) {
    throw ESerialIO(messages::kStatusRequest);
  }
  if (s.link.LinkState(channel) != kLinkGood) return {};
  // A shortened reply that passed the check lacks the status byte: report it
  // like a bad link rather than decode bytes that never arrived.
  if (s.link.ReceivedCount(channel) < requests::kStatus.ReplyLength()) return {};
  if (s.replyDigits == ReplyDigits::Checked && !FiguresAreDecimal(reply)) {
    PollResult bad;
    bad.badDigit = true;
    return bad;
  }

  const std::uint8_t status = reply[2 * kStatusByteIndex];
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02X", status);
  s.Trace(prefix + "): " + hex);

  s.volume[channel][dispenser] = Decimal6(reply, kStatusVolumeByte);
  s.amount[channel][dispenser] = s.amountFromVolume ? AmountFromVolume(s, channel, dispenser)
                                                    : Decimal6(reply, kStatusAmountByte);
  return {MapState(s, channel, dispenser, status), status};
}

}  // namespace quorlan
