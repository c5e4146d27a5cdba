// SPDX-License-Identifier: Apache-2.0
#pragma once
// quorlan gauge inventory|deliveries|alarms: one report from a tank gauge on
// a serial device or at tcp://HOST:PORT, or from the embedded simulated
// gauge when no --port is given.

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "GlobalOptions.h"
#include "gauge/GaugeClient.h"

namespace quorlan::cli {

struct GaugeArgs {
  std::string report;  // "inventory", "deliveries", "alarms"
  std::string port;    // empty: the embedded simulated gauge
  int tank = 0;
  int baud = 9600;
  std::string format = "computer";
  std::string units = "metric";
  std::string securityCodeFile;
  int timeoutMs = 2000;
  bool json = false;
};

CLI::App* AddGaugeCommand(CLI::App& app, GaugeArgs& args);
int RunGauge(const GlobalOptions& options, const GaugeArgs& args);

// The secret in the file's first line (without its line end); UsageError
// when it cannot be read or is not a valid code. Shared with sim --gauge.
std::string ReadSecurityCode(const std::string& path);
gauge::Units ParseUnits(const std::string& text);

}  // namespace quorlan::cli
