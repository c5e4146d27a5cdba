#pragma once
// The driver operations the commands are made of, each run through the
// session so that a failure becomes one line naming it.

#include <optional>

#include "Report.h"
#include "Session.h"

namespace quorlan::cli {

// Nozzle status (entry 21) with the host's mode, then the volume and amount
// that poll stored.
DispenserReading PollDispenser(Session& session, int c, int d, int mode);
// The transaction readout: what the last poll stored.
DispenserReading ReadStoredTransaction(Session& session, int c, int d);
// A poll, then the transaction readout of what it stored.
DispenserReading ReadTransaction(Session& session, int c, int d, int mode);
TotalsReading ReadTotals(Session& session, int c, int d, int nozzle);
void SendPrice(Session& session, int c, int d, int grade, double price);
// Stores the volume or the money limit and sends the preset authorization.
void PresetAndStart(Session& session, int c, int d, int grade, std::optional<double> volume,
                    std::optional<double> amount);
void AuthorizePlain(Session& session, int c, int d, int grade);
void StopDispenser(Session& session, int c, int d);

}  // namespace quorlan::cli
