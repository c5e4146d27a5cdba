// SPDX-License-Identifier: Apache-2.0
#include "station/router/Failure.h"

#include "station/base/Log.h"
#include "station/base/RepeatFilter.h"
#include "station/format/JsonInput.h"
#include "station/sql/Sqlite.h"

namespace quorlan::station {

namespace {

// A database that stays unavailable fails every request: its cause is
// written once, then summarized.
void WriteCause(const std::string& cause) {
  static RepeatFilter repeats;
  for (const auto& line : repeats.Take(cause)) LogLine(line);
}

}  // namespace

int StatusFor(const std::exception& error) {
  if (dynamic_cast<const InputError*>(&error)) return 400;
  if (dynamic_cast<const sql::Unavailable*>(&error)) return 503;
  return 500;
}

std::string DetailFor(const std::exception& error) {
  if (dynamic_cast<const InputError*>(&error)) return error.what();
  if (const auto* database = dynamic_cast<const sql::Unavailable*>(&error)) {
    WriteCause(database->Cause());
    return std::string("the journal is unavailable: ") + error.what();
  }
  WriteCause(error.what());
  return "an unexpected failure; the service log has its cause";
}

}  // namespace quorlan::station
