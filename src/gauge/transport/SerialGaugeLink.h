// SPDX-License-Identifier: Apache-2.0
#pragma once
// A gauge on a serial device: the dispensers' line (exclusive, raw 8N1,
// deadline-bound, in step only after a whole reply), read up to the ETX.

#include <memory>
#include <string>

#include "gauge/GaugeLink.h"
#include "quorlan/SerialLine.h"

namespace quorlan::gauge {

class SerialGaugeLink : public GaugeLink {
 public:
  SerialGaugeLink(std::string path, unsigned baud);

  std::string Describe() const override { return line_.Path(); }
  bool Open(const LinkTimeouts& timeouts) override;
  void Close() override { line_.Close(); }
  bool IsOpen() const override { return line_.IsOpen(); }
  const std::string& Problem() const override { return line_.Problem(); }
  std::optional<std::string> Transfer(std::string_view command,
                                      const LinkTimeouts& timeouts) override;
  void LoseStep() override { line_.LoseStep(); }

 private:
  serial::SerialLine line_;
  unsigned baud_;
};

}  // namespace quorlan::gauge
