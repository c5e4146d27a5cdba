#include "commands/PriceDownload.h"

#include "commands/Messages.h"
#include "link/Bcd.h"
#include "link/Frame.h"
#include "link/Protocol.h"

namespace quorlan {

void SetPrice(DriverState& s, std::uint32_t c, std::uint32_t d, std::uint32_t g, double price) {
  const std::int32_t hundredths = ToHundredths(price);
  CheckRange<1, kDispensers>(d);
  CheckRange<1, kChannels>(c);
  CheckRange<1, kGrades>(g);
  s.prices[c][d][g] = hundredths;
  DownloadPriceTable(s, c, d);
}

void DownloadPriceTable(DriverState& s, std::uint32_t c, std::uint32_t d) {
  s.Info("SET COSTE");
  // Grades 1..4, each high pair first and sent twice.
  ReplyBuffer data{};
  for (int grade = 1; grade <= kPriceTableGrades; ++grade) {
    const std::int32_t p = s.prices[c][d][grade];
    const std::size_t at = 4 * static_cast<std::size_t>(grade - 1);
    data[at] = data[at + 2] = BcdPair(p, 1);
    data[at + 1] = data[at + 3] = BcdPair(p, 0);
  }
  if (s.link.Transact(c, static_cast<int>(d) + kSecondAddressOffset,
                      requests::kPriceTable.ReplyLength(), requests::kPriceTable.dataBytes, data,
                      requests::kPriceTable.command) != 0) {
    throw ESerialIO(messages::kSetPrice);
  }
}

bool SendPrices(DriverState& s, std::int64_t c, std::int64_t d) {
  CheckRange<1, kDispensers>(d);
  CheckRange<0, kChannels>(c);
  // Without a given grade 1 price there is nothing to send; the mark stays
  // so that the price goes out once it is given.
  if (!s.HasPrice(c, d, 1)) return false;
  // Cleared before sending, so a failed download does not repeat forever.
  s.priceDirty[c][d] = 0;
  CheckRange<1, kChannels>(c);

  // Grade 1 price, low pair first.
  const std::int32_t p = s.prices[c][d][1];
  ReplyBuffer data{};
  data[0] = BcdPair(p, 0);
  data[1] = BcdPair(p, 1);
  if (s.link.Transact(c, static_cast<int>(d), requests::kGradeOnePrice.ReplyLength(),
                      requests::kGradeOnePrice.dataBytes, data,
                      requests::kGradeOnePrice.command) != 0) {
    throw ESerialIO(messages::kStatusRequest);
  }
  return true;
}

}  // namespace quorlan
