#pragma once
// quorlan watch: a monitor of dispensers on one or more channels. A
// dispenser that does not answer, or answers wrongly, shows it on its row
// and polling goes on; a line that disappears is retried every round until
// it returns. Ends on Ctrl-C or SIGTERM.

#include <vector>

#include "Session.h"

namespace quorlan::cli {

struct WatchArgs {
  std::vector<int> channels{};  // none: every channel of the session
  std::vector<int> dispensers{};
  int mode = 1;
  bool json = false;  // one object per line for each change, with a timestamp
};

void RunWatch(Session& session, const WatchArgs& args);

}  // namespace quorlan::cli
