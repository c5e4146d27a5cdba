// SPDX-License-Identifier: Apache-2.0
#pragma once
// The process's own figures under the names every Prometheus client gives
// them (process_cpu_seconds_total, process_resident_memory_bytes, ...), so
// that a dashboard made for any service shows this one. Linux: read from
// /proc at scrape time.

#include <string>

namespace quorlan::station {

// The exposition text of the process_* families; a figure that cannot be
// read is left out rather than shown as 0.
std::string ProcessMetricsText();

}  // namespace quorlan::station
