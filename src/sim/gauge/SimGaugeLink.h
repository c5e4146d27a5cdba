#pragma once
// The simulated gauge in this process, as a GaugeLink: `port = "sim"`. A
// late reply arrives with the next exchange unless the client, out of step,
// lets the line fall silent first, as on a real line.

#include <memory>

#include "Gauge.h"
#include "gauge/GaugeLink.h"
#include "gauge/Port.h"

namespace quorlan::sim {

class SimGaugeLink : public gauge::GaugeLink {
 public:
  explicit SimGaugeLink(std::shared_ptr<Gauge> gauge) : gauge_(std::move(gauge)) {}

  std::string Describe() const override { return std::string(gauge::kSimPort); }
  bool Open(const gauge::LinkTimeouts&) override;
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  const std::string& Problem() const override { return problem_; }
  std::optional<std::string> Transfer(std::string_view command,
                                      const gauge::LinkTimeouts& timeouts) override;
  void LoseStep() override { inStep_ = false; }
  // The gauge goes away (a cable pulled): opening fails until it is back.
  void SetReachable(bool reachable) { reachable_ = reachable; }

 private:
  std::shared_ptr<Gauge> gauge_;
  bool open_ = false;
  bool reachable_ = true;
  bool inStep_ = true;
  std::string pending_;  // a late reply on its way
  std::string problem_;
};

}  // namespace quorlan::sim
