// SPDX-License-Identifier: Apache-2.0
#pragma once
// quorlan replay: a capture's dispenser side played back on a
// pseudo-terminal, so that what happened on a forecourt runs again at the
// desk against the command or the service. Each request that comes in is
// answered with the reply the capture holds for it; one that differs from
// the capture's next request is reported.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "GlobalOptions.h"
#include "TapDecoder.h"

namespace quorlan::cli {

struct ReplayArgs {
  std::string capture;
};

CLI::App* AddReplayCommand(CLI::App& app, ReplayArgs& args);
// Prints the line's path first, plays until SIGINT or SIGTERM.
int RunReplay(const GlobalOptions& options, const ReplayArgs& args);

// The capture's exchanges in order, and where the playback stands.
class ReplayScript {
 public:
  explicit ReplayScript(std::vector<tap::Exchange> exchanges) : exchanges_(std::move(exchanges)) {}

  struct Answer {
    std::optional<tap::Bytes> reply;      // nothing: the capture had no reply
    bool expected = true;                 // the request was the capture's next one
    const tap::Exchange* next = nullptr;  // what the capture had next, when not expected
  };
  // The reply to `request`: the next exchange's when it is that request,
  // else that of the first later (then earlier) exchange with the same bytes.
  Answer Respond(const tap::Bytes& request);
  std::size_t Size() const { return exchanges_.size(); }

 private:
  std::vector<tap::Exchange> exchanges_;
  std::size_t next_ = 0;
};

// The exchanges of a capture file; UsageError naming the file when it is no
// serial capture or holds no exchange.
std::vector<tap::Exchange> ReadCapture(const std::string& path);

}  // namespace quorlan::cli
