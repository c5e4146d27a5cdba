// SPDX-License-Identifier: Apache-2.0
#include "gauge/transport/OpenLink.h"

#include <stdexcept>

#include "gauge/transport/SerialGaugeLink.h"
#include "gauge/transport/TcpGaugeLink.h"

namespace quorlan::gauge {

std::unique_ptr<GaugeLink> OpenLink(const GaugePort& port, unsigned baud) {
  switch (port.kind) {
    case GaugePort::Kind::Serial:
      return std::make_unique<SerialGaugeLink>(port.path, baud);
    case GaugePort::Kind::Tcp:
      return std::make_unique<TcpGaugeLink>(port.host, port.port);
    case GaugePort::Kind::Sim:
      break;
  }
  throw std::invalid_argument("the simulated gauge lives in the simulator");
}

}  // namespace quorlan::gauge
