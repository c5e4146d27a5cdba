#pragma once
// quorlan shell: the dispenser commands typed one per line on one session,
// so prices, presets and the driver's tables persist between them.

#include "Session.h"

namespace quorlan::cli {

// Reads standard input to its end or "quit"; returns the exit status.
int RunShell(Session& session);

}  // namespace quorlan::cli
