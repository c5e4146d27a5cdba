// SPDX-License-Identifier: Apache-2.0
#include "gauge/Port.h"

#include <stdexcept>

#include "gauge/Fields.h"

namespace quorlan::gauge {

GaugePort ParseGaugePort(std::string_view text) {
  if (text.empty()) throw std::invalid_argument("the gauge's port is empty");
  GaugePort parsed;
  if (text == kSimPort) {
    parsed.kind = GaugePort::Kind::Sim;
    return parsed;
  }
  if (!text.starts_with(kTcpScheme)) {
    parsed.path = text;
    return parsed;
  }
  const auto address = text.substr(kTcpScheme.size());
  // [v6]:port or host:port
  const auto colon = address.rfind(':');
  if (colon == std::string_view::npos || colon == 0) {
    throw std::invalid_argument("a TCP gauge is tcp://HOST:PORT");
  }
  auto host = address.substr(0, colon);
  if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
  const auto port = address.substr(colon + 1);
  const auto number = port.size() <= 5 ? ParseDecimal(port) : std::nullopt;
  if (host.empty() || !number || *number < 1 || *number > 65535) {
    throw std::invalid_argument("a TCP gauge is tcp://HOST:PORT with a port of 1..65535");
  }
  parsed.kind = GaugePort::Kind::Tcp;
  parsed.host = host;
  parsed.port = *number;
  return parsed;
}

}  // namespace quorlan::gauge
