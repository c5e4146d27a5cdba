// SPDX-License-Identifier: Apache-2.0
// [[line]]: a serial line (or the simulated one), its dispensers and
// nozzles, and where its capture goes.

#include <fmt/format.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "quorlan/Driver.h"
#include "station/config/Config.h"
#include "station/config/Sections.h"

namespace quorlan::station {

namespace {

constexpr int kMostCaptureMegabytes = 4096;
constexpr int kMostCaptureFiles = 1000;
constexpr std::uint64_t kMegabyte = 1024 * 1024;

void Capture(TomlReader& reader, const toml::table& table, LineConfig& line) {
  const int megabytes = reader.OptionalInteger(table, "capture_size_mb", 1, kMostCaptureMegabytes)
                            .value_or(int(line.captureRotation.maxBytes / kMegabyte));
  line.captureRotation.maxBytes = std::uint64_t(megabytes) * kMegabyte;
  line.captureRotation.keep = reader.OptionalInteger(table, "capture_files", 0, kMostCaptureFiles)
                                  .value_or(line.captureRotation.keep);
  const toml::node* node = table.get("capture");
  if (!node) {
    for (const char* key : {"capture_size_mb", "capture_files"}) {
      if (table.get(key))
        reader.Problem(LineOf(*table.get(key)), fmt::format("'{}' needs 'capture'", key));
    }
    return;
  }
  const auto path = reader.WritableFile(table, "capture");
  if (!path) return;
  line.capture = *path;
  line.captureLine = LineOf(*node);
}

LineConfig Line(TomlReader& reader, const toml::table& table) {
  const int at = LineOf(table);
  reader.CheckKeys(table,
                   {"channel", "port", "dispensers", "nozzle_mode", "nozzles", "echo", "capture",
                    "capture_size_mb", "capture_files"},
                   " in [[line]]");
  LineConfig line;
  line.channel = 0;
  if (const toml::node* channel = table.get("channel")) {
    line.channel = reader.Integer(*channel, "channel", 1, kLastChannel).value_or(0);
  } else {
    reader.Problem(at, "[[line]] needs a 'channel'");
  }
  line.port = reader.String(table, "port", at).value_or("");
  if (const toml::node* port = table.get("port")) line.portLine = LineOf(*port);
  if (const toml::node* dispensers = table.get("dispensers")) {
    line.dispensers = reader.Numbers(*dispensers, "dispensers", "dispenser", 1, kLastDispenser)
                          .value_or(std::vector<int>{});
  } else {
    reader.Problem(at, "[[line]] needs 'dispensers'");
  }
  line.nozzleMode = reader.OptionalInteger(table, "nozzle_mode", 0, 255).value_or(line.nozzleMode);
  if (const toml::node* nozzles = table.get("nozzles")) {
    line.nozzles =
        reader.Numbers(*nozzles, "nozzles", "nozzle", 1, int{kLastNozzle}).value_or(line.nozzles);
  }
  if (const toml::node* echo = table.get("echo")) {
    if (echo->is_boolean()) {
      line.echo = echo->as_boolean()->get();
    } else {
      reader.Problem(LineOf(*echo), "'echo' must be true or false");
    }
  }
  Capture(reader, table, line);
  return line;
}

}  // namespace

void ReadLines(TomlReader& reader, const toml::table& root, StationConfig& config,
               bool checkDevices) {
  std::set<int> channels;
  std::map<std::string, int> captures;  // each line writes its own files
  std::optional<bool> simulated;
  const toml::array& lineTables = reader.Tables(root, "line");
  for (const toml::node& node : lineTables) {
    const toml::table& table = *node.as_table();
    LineConfig line = Line(reader, table);
    if (line.channel != 0 && !channels.insert(line.channel).second) {
      reader.Problem(LineOf(*table.get("channel")),
                     fmt::format("channel {} is configured twice", line.channel));
    }
    if (!line.port.empty()) {
      const bool isSimulated = line.port == kSimulatedPort;
      // One driver serves every line through one transport.
      if (simulated && *simulated != isSimulated) {
        reader.Problem(line.portLine, "simulated and serial lines cannot be mixed");
      }
      simulated = simulated.value_or(isSimulated);
      if (isSimulated && (line.echo || !line.capture.empty())) {
        reader.Problem(line.portLine,
                       "'echo' and 'capture' need a serial port: the simulated line has no wire");
      }
      std::error_code error;
      if (checkDevices && !isSimulated && !std::filesystem::exists(line.port, error)) {
        reader.Problem(line.portLine, fmt::format("port {} does not exist", line.port));
      }
    }
    if (!line.capture.empty()) {
      std::error_code error;
      const auto absolute = std::filesystem::absolute(line.capture, error).lexically_normal();
      const auto [at, fresh] = captures.emplace(absolute.string(), line.channel);
      if (!fresh) {
        reader.Problem(line.captureLine,
                       fmt::format("capture {} is channel {}'s already", line.capture, at->second));
      }
    }
    config.lines.push_back(std::move(line));
  }
  if (lineTables.empty() && !root.get("line")) {
    reader.Problem(0, "no [[line]] configured");
  }
}

}  // namespace quorlan::station
