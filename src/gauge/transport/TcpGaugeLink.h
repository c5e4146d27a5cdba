// SPDX-License-Identifier: Apache-2.0
#pragma once
// A gauge behind TCP (a serial-to-Ethernet bridge or the console's own
// port): connect within `connect`, read up to the ETX within the reply
// deadlines, drain a late reply before the next command once out of step.
// A connection the far end closed or reset is a line failure.

#include <asio.hpp>
#include <chrono>
#include <string>

#include "gauge/GaugeLink.h"

namespace quorlan::gauge {

class TcpGaugeLink : public GaugeLink {
 public:
  TcpGaugeLink(std::string host, int port);

  std::string Describe() const override;
  bool Open(const LinkTimeouts& timeouts) override;
  void Close() override;
  bool IsOpen() const override { return socket_.is_open(); }
  const std::string& Problem() const override { return problem_; }
  std::optional<std::string> Transfer(std::string_view command,
                                      const LinkTimeouts& timeouts) override;
  void LoseStep() override { inStep_ = false; }

 private:
  using Clock = std::chrono::steady_clock;
  // Runs the pending operation for at most `limit`; false when it had to be
  // cancelled.
  bool RunFor(Clock::duration limit);
  // Reads until an ETX (keep) or a silence; nothing on a line failure.
  std::optional<std::string> Read(Clock::duration firstWait, Clock::duration gap,
                                  Clock::duration whole, bool keep);
  bool Fail(std::string problem);

  std::string host_;
  int port_;
  asio::io_context io_;
  asio::ip::tcp::socket socket_{io_};
  std::string problem_;
  bool inStep_ = true;
};

}  // namespace quorlan::gauge
