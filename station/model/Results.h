// SPDX-License-Identifier: Apache-2.0
#pragma once
// How the station's use cases end, typed: the HTTP face turns them into
// status codes and JSON.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "station/base/Money.h"
#include "station/config/Config.h"
#include "station/model/DispenserView.h"
#include "station/model/Records.h"
#include "station/model/Settlement.h"

namespace quorlan::station {

// How a command ended, in the API's terms.
enum class Outcome : std::uint8_t {
  Done,
  Refused,      // the dispenser's state refuses it (409)
  NoAck,        // the dispenser did not acknowledge (502)
  LineDown,     // (503)
  Unavailable,  // the service is stopping (503)
};

// What became of the book's table for one dispenser.
enum class Download : std::uint8_t {
  Downloaded,
  Deferred,    // held back until the running fill ends
  Incomplete,  // the book lacks one of the table's grades
  Refused,     // the driver refused it (`detail` says why)
  LinkFailed,  // the line failed (`link` says how); tried again when idle
};

struct DownloadResult {
  Download download = Download::Downloaded;
  Link link = Link::Ok;
  std::string detail;
};

struct PriceResult {
  int channel = 0;
  int dispenser = 0;
  DownloadResult result;
};

// A stop of one dispenser, or of a whole line that did not answer (no
// dispenser then).
struct StopResult {
  int channel = 0;
  std::optional<int> dispenser;
  bool stopped = false;
  std::string detail;  // why not, when not stopped
};

struct TotalsReading {
  Cents volume = 0;
  Cents amount = 0;
};

using Payload = std::variant<std::monostate, DispenserView, TotalsReading, std::vector<StopResult>,
                             std::vector<PriceResult>>;

struct CommandResult {
  Outcome outcome = Outcome::Done;
  std::string detail;
  Payload body;
};

// A settlement: the fill as it now stands, or why it was refused; no fill
// at all for an unknown id.
struct Settled {
  std::optional<FillRecord> fill;
  std::optional<SettlementRefusal> refusal;
  std::string detail;
};

// Who the caller is, and what a till needs to show the station's figures as
// the station does: its currency, its zone and its grades' names.
struct SessionView {
  std::string name;
  Role role = Role::View;
  std::string currency;  // empty: none configured
  std::string timezone;  // the configured zone, or the system's
  std::vector<GradeConfig> grades;
};

}  // namespace quorlan::station
