// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where a gauge is: a serial device, "tcp://HOST:PORT" (a serial-to-Ethernet
// bridge or a console's own port, often 10001), or "sim", the simulated
// gauge in this process.

#include <string>
#include <string_view>

namespace quorlan::gauge {

struct GaugePort {
  enum class Kind { Serial, Tcp, Sim };
  Kind kind = Kind::Serial;
  std::string path;  // Serial
  std::string host;  // Tcp
  int port = 0;      // Tcp, 1..65535
};

inline constexpr std::string_view kTcpScheme = "tcp://";
inline constexpr std::string_view kSimPort = "sim";

// std::invalid_argument naming what is wrong: an empty port, a tcp:// without
// a host or with a port outside 1..65535.
GaugePort ParseGaugePort(std::string_view text);

}  // namespace quorlan::gauge
