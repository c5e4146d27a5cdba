#pragma once
// The driver operations the commands are made of, each run through the
// session so that a failure becomes one line naming it.

#include <optional>

#include "Report.h"
#include "Session.h"
#include "quorlan/Driver.h"

namespace quorlan::cli {

// A status poll with the host's nozzle mode (0: the nozzle is not read).
// OperationError when no valid status came.
DispenserReading PollDispenser(Session& session, int c, int d, int mode);
// The transaction readout: what the last poll stored.
DispenserReading ReadStoredTransaction(Session& session, int c, int d);
// A poll, then the transaction readout of what it stored; the readout of a
// poll that failed is refused rather than shown as zero.
DispenserReading ReadTransaction(Session& session, int c, int d, int mode);
// OperationError when the readout did not arrive whole.
TotalsReading ReadTotals(Session& session, int c, int d, int nozzle);
// Into the session's price book; nothing is sent.
void BookPrice(Session& session, int c, int d, int grade, double price);
std::optional<double> BookedPrice(Session& session, int c, int d, int grade);
// The price table of grades 1..4 from the book; UsageError, with nothing
// sent, when the book lacks one of them.
void SendPrices(Session& session, int c, int d);
// Plain (the frame carries no grade) or with a limit, which carries the
// grade's price from the book. Remembered as the dispenser's active limit.
void AuthorizeFill(Session& session, int c, int d, int grade, Limit limit);
void StopDispenser(Session& session, int c, int d);

}  // namespace quorlan::cli
