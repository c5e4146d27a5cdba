// SPDX-License-Identifier: Apache-2.0
#include "station/model/Charge.h"

#include <cstdlib>

namespace quorlan::station {

namespace {

constexpr Cents kHundredths = 100;

}  // namespace

bool AmountAgrees(Cents price, Cents volume, Cents amount) {
  // In ten-thousandths of money: the amount against price × volume, allowed
  // one step of volume (price hundredths) and one hundredth of money.
  const Cents difference = std::llabs(amount * kHundredths - price * volume);
  return difference <= price + kHundredths;
}

Cents Refund(const FillLimit& limit, Cents amount) {
  return limit.kind == FillLimit::Kind::Amount ? limit.value - amount : 0;
}

}  // namespace quorlan::station
