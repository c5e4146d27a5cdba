// SPDX-License-Identifier: Apache-2.0
#pragma once
// The link to a gauge on a serial device or at tcp://HOST:PORT. "sim" is the
// simulator's (sim/gauge/SimGaugeLink.h), which this layer does not know.

#include <memory>

#include "gauge/GaugeLink.h"
#include "gauge/Port.h"

namespace quorlan::gauge {

// std::invalid_argument for a "sim" port.
std::unique_ptr<GaugeLink> OpenLink(const GaugePort& port, unsigned baud);

}  // namespace quorlan::gauge
