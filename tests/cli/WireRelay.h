// SPDX-License-Identifier: Apache-2.0
#pragma once
// A line with a listener on it, for the tap's tests: the host opens one
// pseudo-terminal, the relay carries its bytes to a dispenser's line (the
// simulator's) and back, and copies both directions onto a third
// pseudo-terminal, the shared wire a tap listens on.

#include <atomic>
#include <string>
#include <thread>

namespace quorlan::testing {

class WireRelay {
 public:
  explicit WireRelay(const std::string& dispenserLine);
  ~WireRelay();
  WireRelay(const WireRelay&) = delete;
  WireRelay& operator=(const WireRelay&) = delete;

  // Where the host opens its line, and where the tap listens.
  const std::string& HostPath() const { return hostPath_; }
  const std::string& WirePath() const { return wirePath_; }
  // Ends the wire: the tap sees its line close.
  void HangUpWire();

 private:
  void Relay();

  int hostMaster_ = -1, hostSlave_ = -1;
  int wireMaster_ = -1, wireSlave_ = -1;
  int dispenser_ = -1;
  int wakeRead_ = -1, wakeWrite_ = -1;
  std::string hostPath_, wirePath_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace quorlan::testing
