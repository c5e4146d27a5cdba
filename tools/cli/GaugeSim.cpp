// SPDX-License-Identifier: Apache-2.0
#include "GaugeSim.h"

#include <fmt/format.h>

#include <sstream>
#include <system_error>
#include <vector>

#include "Arguments.h"
#include "ExitCodes.h"
#include "GaugeCommand.h"
#include "Signals.h"
#include "sim/PtyServer.h"
#include "sim/TcpServer.h"
#include "sim/gauge/CommandReader.h"

namespace quorlan::cli {
namespace {

constexpr const char* kGaugeInputHelp =
    "Standard input, one a line: deliver T LITRES, water T MM, leak T LITRES_PER_HOUR, "
    "fault FUNCTION:KIND[:MS][:once], clear (drops the faults).";

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream{std::string(text)};
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

double Number(const std::string& word) {
  std::size_t used = 0;
  double value = 0;
  try {
    value = std::stod(word, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != word.size() || !(value >= 0)) {
    throw UsageError(fmt::format("{}: not a number of 0 or more", Shown(word)));
  }
  return value;
}

int TankNumber(const std::string& word) {
  const double value = Number(word);
  if (value != int(value)) throw UsageError(fmt::format("{}: not a tank", Shown(word)));
  return int(value);
}

void ReactTo(sim::Gauge& gauge, const std::string& line) {
  std::istringstream stream(line);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  if (words.empty()) return;
  try {
    const auto& verb = words[0];
    if (verb == "deliver" && words.size() == 3) {
      gauge.StartDelivery(TankNumber(words[1]), Number(words[2]));
      fmt::print(stderr, "tank {}: a delivery of {} l under way\n", words[1], words[2]);
    } else if (verb == "water" && words.size() == 3) {
      gauge.SetWater(TankNumber(words[1]), Number(words[2]));
      fmt::print(stderr, "tank {}: water {} mm\n", words[1], words[2]);
    } else if (verb == "leak" && words.size() == 3) {
      gauge.SetLeak(TankNumber(words[1]), Number(words[2]));
      fmt::print(stderr, "tank {}: leaking {} l an hour\n", words[1], words[2]);
    } else if (verb == "fault" && words.size() == 2) {
      const auto spec = ParseGaugeFaultSpec(words[1]);
      gauge.InjectFault(spec.function, spec.fault);
      fmt::print(stderr, "{} replies: {}{}\n", gauge::NameOf(spec.function),
                 sim::GaugeFaultName(spec.fault.kind),
                 spec.fault.persistent ? ", every time" : ", once");
    } else if (verb == "clear" && words.size() == 1) {
      gauge.ClearFaults();
      fmt::print(stderr, "faults cleared\n");
    } else {
      fmt::print(stderr, "quorlan sim: {}: not understood. {}\n", Shown(line), kGaugeInputHelp);
    }
  } catch (const UsageError& error) {
    fmt::print(stderr, "quorlan sim: {}\n", error.what());
  } catch (const std::logic_error& error) {  // no such tank, a figure out of range
    fmt::print(stderr, "quorlan sim: {}\n", error.what());
  }
}

}  // namespace

std::string GaugeFaultHelp() {
  return "functions inventory deliveries alarms; kinds noreply checksum cut othertank nan "
         "late[:MS]; once: only the next reply";
}

GaugeFaultSpec ParseGaugeFaultSpec(std::string_view text) {
  auto parts = Split(text, ':');
  GaugeFaultSpec spec;
  spec.fault.persistent = true;
  if (!parts.empty() && parts.back() == "once") {
    spec.fault.persistent = false;
    parts.pop_back();
  }
  const auto bad = [&](const char* why) {
    return UsageError(fmt::format("fault {}: {} ({})", Shown(text), why, GaugeFaultHelp()));
  };
  if (parts.size() < 2 || parts.size() > 3) throw bad("not FUNCTION:KIND[:MS][:once]");
  bool known = false;
  for (auto function :
       {gauge::Function::Inventory, gauge::Function::Deliveries, gauge::Function::Alarms}) {
    if (parts[0] == gauge::NameOf(function)) {
      spec.function = function;
      known = true;
    }
  }
  if (!known) throw bad("no such function");
  const auto kind = sim::ParseGaugeFault(parts[1]);
  if (!kind) throw bad("no such kind");
  spec.fault.kind = *kind;
  if (parts.size() == 3) {
    if (*kind != sim::GaugeFaultKind::LateReply) throw bad("only late takes a value");
    const double milliseconds = Number(parts[2]);
    if (milliseconds > 60000) throw bad("a delay of at most 60000 ms");
    spec.fault.delay = std::chrono::milliseconds(int(milliseconds));
  }
  return spec;
}

int RunGaugeSim(const GlobalOptions& options, const SimArgs& args) {
  sim::GaugeOptions gaugeOptions;
  gaugeOptions.tanks.resize(std::size_t(std::min<int>(args.tanks, 4)));
  for (int tank = 5; tank <= args.tanks; ++tank) {
    auto settings = gaugeOptions.tanks.front();
    settings.number = tank;
    settings.product = char('0' + (tank - 1) % 4 + 1);
    gaugeOptions.tanks.push_back(settings);
  }
  gaugeOptions.units = ParseUnits(args.units);
  if (!args.securityCodeFile.empty()) {
    gaugeOptions.securityCode = ReadSecurityCode(args.securityCodeFile);
  }
  auto gauge = std::make_shared<sim::Gauge>(gaugeOptions);
  for (const auto& text : args.gaugeFaults) {
    const auto spec = ParseGaugeFaultSpec(text);
    gauge->InjectFault(spec.function, spec.fault);
  }
  auto responder = std::make_shared<sim::GaugeResponder>(gauge);
  const sim::PtyOptions serving{.pacing = !args.unpaced};
  std::unique_ptr<sim::StreamServer> server;
  std::string where;
  try {
    if (args.tcpPort >= 0) {
      auto tcp = std::make_unique<sim::TcpServer>(responder, args.tcpPort, serving);
      where = fmt::format("tcp://127.0.0.1:{}", tcp->Port());
      server = std::move(tcp);
    } else {
      auto pty = std::make_unique<sim::PtyServer>(responder, serving);
      where = pty->SlavePath();
      server = std::move(pty);
    }
  } catch (const std::system_error& error) {
    throw LineSetupError(fmt::format("sim: cannot serve the gauge: {}", error.what()));
  }
  if (options.trace) {
    // The commands as they came, less the gauge's own security code.
    const auto code = gaugeOptions.securityCode;
    server->SetTrace([code](sim::TraceDirection direction, int,
                            std::span<const std::uint8_t> bytes) {
      std::string text(bytes.begin(), bytes.end());
      if (direction == sim::TraceDirection::Request && !code.empty() && text.size() > code.size()) {
        text.erase(1, code.size());
      }
      const char* mark = direction == sim::TraceDirection::Request ? "->" : "<-";
      fmt::print(stderr, "{} {}\n", mark,
                 direction == sim::TraceDirection::NoReply ? "no reply" : Escaped(text));
    });
  }
  StopSignalScope signals;
  server->Start();
  fmt::print("{}\n", where);
  std::fflush(stdout);
  ServeInputLines([&gauge](const std::string& text) { ReactTo(*gauge, text); });
  server->Stop();
  return kExitOk;
}

}  // namespace quorlan::cli
