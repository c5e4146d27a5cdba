#include "GlobalOptions.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "ExitCodes.h"

namespace quorlan::cli {

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("--port", options.ports,
                 "Serial line of a channel, [CHANNEL=]PATH (repeatable); "
                 "without it the embedded simulator serves channel 1")
      ->type_name("[CHANNEL=]PATH");
  app.add_flag("--trace", options.trace, "Hex dump of every request (->) and reply (<-) on stderr");
  app.add_option("--log", options.logPath,
                 "Driver log file (default: quorlan.log next to the executable)")
      ->type_name("PATH");
}

namespace {

PortSpec ParsePort(const std::string& spec) {
  const auto equals = spec.find('=');
  const std::string number = equals == std::string::npos ? "" : spec.substr(0, equals);
  const bool numbered = !number.empty() && number.size() <= 3 &&
                        std::all_of(number.begin(), number.end(),
                                    [](unsigned char ch) { return std::isdigit(ch) != 0; });
  PortSpec port;
  port.path = numbered ? spec.substr(equals + 1) : spec;
  port.channel = numbered ? std::stoi(number) : 1;
  if (port.channel < 1 || port.channel > 32) {
    throw UsageError(fmt::format("--port {}: channel {} is outside 1..32", spec, port.channel));
  }
  if (port.path.empty()) throw UsageError(fmt::format("--port {}: the path is missing", spec));
  return port;
}

}  // namespace

std::vector<PortSpec> ParsePorts(const std::vector<std::string>& specs) {
  std::vector<PortSpec> ports;
  std::set<int> seen;
  for (const auto& spec : specs) {
    ports.push_back(ParsePort(spec));
    if (!seen.insert(ports.back().channel).second) {
      throw UsageError(
          fmt::format("--port {}: channel {} has a port already", spec, ports.back().channel));
    }
  }
  return ports;
}

}  // namespace quorlan::cli
