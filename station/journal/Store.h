// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station's journal: its database and a journal per kind of record
// over it, opened together. The price book, the fills, their settlement,
// the shifts, the events a reconnecting client may ask for again and the
// idempotent answers; every write is one transaction, committed before the
// caller acknowledges or publishes it. Safe to share between threads.

#include <string>

#include "station/journal/Database.h"
#include "station/journal/EventJournal.h"
#include "station/journal/FillJournal.h"
#include "station/journal/Idempotency.h"
#include "station/journal/PriceBook.h"
#include "station/journal/SettlementJournal.h"
#include "station/journal/ShiftJournal.h"

namespace quorlan::station {

struct Store {
  // Opens or creates the database and brings its schema up to date (see
  // Database::Open for what it refuses).
  explicit Store(const std::string& path);
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  Database database;
  PriceBook prices;
  SettlementJournal settlement;
  FillJournal fills;
  ShiftJournal shifts;
  EventJournal events;
  IdempotencyJournal answers;
};

}  // namespace quorlan::station
