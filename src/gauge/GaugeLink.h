// SPDX-License-Identifier: Apache-2.0
#pragma once
// The way to a gauge: a serial line, a TCP connection or the simulator in
// this process. One exchange at a time, each bound by deadlines, so a gauge
// that hangs, babbles or goes away costs at most `whole` and never blocks.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quorlan::gauge {

struct LinkTimeouts {
  std::chrono::milliseconds connect{3000};   // a TCP connection is made in this time
  std::chrono::milliseconds reply{2000};     // from the command to the first reply byte
  std::chrono::milliseconds interByte{300};  // longest gap inside a reply (bridges send bursts)
  std::chrono::milliseconds settle{200};     // silence kept before a command once out of step
  std::chrono::milliseconds whole{15000};    // the longest reply, 99 tanks at 9600 baud
};

class GaugeLink {
 public:
  virtual ~GaugeLink() = default;
  // The device path, "tcp://HOST:PORT" or "sim".
  virtual std::string Describe() const = 0;
  // Opens (again); false with the reason in Problem().
  virtual bool Open(const LinkTimeouts& timeouts) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual const std::string& Problem() const = 0;
  // Sends the command and returns what came back: up to and with the first
  // ETX, or what came before a silence or the deadline (empty: no reply).
  // Nothing when the line failed; it is closed then.
  virtual std::optional<std::string> Transfer(std::string_view command,
                                              const LinkTimeouts& timeouts) = 0;
  // The reply was not taken: before the next command the line must fall
  // silent, so that the rest of a late reply is not heard as the next one.
  virtual void LoseStep() = 0;
};

}  // namespace quorlan::gauge
