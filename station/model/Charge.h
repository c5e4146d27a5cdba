// SPDX-License-Identifier: Apache-2.0
#pragma once
// What a fill's figures must agree on: the amount is the price times the
// volume, give or take what the pump's rounding makes of them.

#include "station/base/Money.h"

namespace quorlan::station {

// True when `amount` is `price` × `volume` within one hundredth of money
// beyond one display step of volume (the pump rounds the volume it shows,
// and a money limit ends the fill between two steps).
bool AmountAgrees(Cents price, Cents volume, Cents amount);

// What a money limit leaves to give back: the limit minus the amount.
Cents Refund(const FillLimit& limit, Cents amount);

}  // namespace quorlan::station
