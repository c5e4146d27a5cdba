// SPDX-License-Identifier: Apache-2.0
#pragma once
// A till's lock lapses by itself; the other tills learn of it from a fill
// event, not from a poll. Each lapsed lock is written away with that event,
// so a restart does not announce it twice.

#include <vector>

#include "station/base/Instant.h"
#include "station/events/EventHub.h"
#include "station/journal/Store.h"
#include "station/model/Records.h"

namespace quorlan::station {

// Releases every lock that ran out by `now` and announces each fill as it
// now stands; the fills released. The caller holds off other settlement
// meanwhile.
std::vector<FillRecord> ReleaseLapsedLocks(Store& store, EventHub& hub, Instant now);

}  // namespace quorlan::station
