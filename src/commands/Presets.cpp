#include "commands/Presets.h"

#include <algorithm>
#include <iterator>

#include "commands/Messages.h"
#include "commands/NozzleStates.h"
#include "link/Bcd.h"
#include "link/Protocol.h"

namespace quorlan {

void SetVolumePreset(DriverState& s, std::uint32_t c, std::uint32_t d, double volume) {
  CheckRange<1, kDispensers>(d);
  CheckRange<1, kChannels>(c);
  s.presetVolume[c][d] = volume;
  s.presetAmount[c][d] = kUnlimitedAmount;
}

void SetAmountPreset(DriverState& s, std::uint32_t c, std::uint32_t d, std::uint32_t g,
                     double amount) {
  CheckRange<1, kDispensers>(d);
  CheckRange<1, kChannels>(c);
  s.presetAmount[c][d] = amount;
  s.presetVolume[c][d] = kUnlimitedVolume;
  if (!s.amountFromVolume) return;
  const std::int32_t price = s.prices[c][d][CheckRange<1, kGrades>(g)];
  // A free grade buys no definite volume: the volume limit stays open.
  if (price != 0) s.presetVolume[c][d] = (amount * 100) / price;
}

void Authorize(DriverState& s, std::uint32_t c, std::uint32_t d, std::uint32_t g, bool presetForm) {
  CheckRange<0, kChannels>(c);
  CheckRange<1, kDispensers>(d);
  CheckRange<0, 255>(g);
  s.currentGrade[c][d] = static_cast<std::uint8_t>(g);

  ReplyBuffer data{};
  std::uint32_t code;
  if (!presetForm) {
    code = s.link.Transact(c, static_cast<int>(d), requests::kAuthorize.ReplyLength(), 0, data,
                           requests::kAuthorize.command);
  } else {
    s.Info("START");
    CheckRange<1, kChannels>(c);
    CheckRange<1, kGrades>(g);
    const std::int32_t price = s.prices[c][d][g];
    const std::int32_t amountLimit = ToHundredths(s.presetAmount[c][d]);
    const std::int32_t volumeLimit = ToHundredths(s.presetVolume[c][d]);
    // Grade, then price, money and volume limits, least significant pair first.
    const std::uint8_t request[requests::kPresetAuthorize.dataBytes] = {
        static_cast<std::uint8_t>(g), BcdPair(price, 0),       BcdPair(price, 1),
        BcdPair(amountLimit, 0),      BcdPair(amountLimit, 1), BcdPair(amountLimit, 2),
        BcdPair(volumeLimit, 0),      BcdPair(volumeLimit, 1), BcdPair(volumeLimit, 2)};
    std::copy(std::begin(request), std::end(request), data.begin());
    code = s.link.Transact(c, static_cast<int>(d), requests::kPresetAuthorize.ReplyLength(),
                           requests::kPresetAuthorize.dataBytes, data,
                           requests::kPresetAuthorize.command);
  }
  if (code != 0) throw ESerialIO(messages::kCantStart);
  s.startGuard[c][d] = kStartGuardPolls;
}

}  // namespace quorlan
