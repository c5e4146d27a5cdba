// SPDX-License-Identifier: Apache-2.0
#include "GaugeCommand.h"

#include <fmt/format.h>

#include "Arguments.h"
#include "ExitCodes.h"
#include "GaugeReport.h"
#include "Report.h"
#include "gauge/Command.h"
#include "gauge/Port.h"
#include "gauge/SecurityCode.h"
#include "gauge/transport/OpenLink.h"
#include "sim/gauge/SimGaugeLink.h"

namespace quorlan::cli {
namespace {

// Prints each command without its security code, and each reply, to stderr.
class TracingLink : public gauge::GaugeLink {
 public:
  TracingLink(std::unique_ptr<gauge::GaugeLink> inner, std::string securityCode)
      : inner_(std::move(inner)), securityCode_(std::move(securityCode)) {}
  std::string Describe() const override { return inner_->Describe(); }
  bool Open(const gauge::LinkTimeouts& timeouts) override { return inner_->Open(timeouts); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  const std::string& Problem() const override { return inner_->Problem(); }
  void LoseStep() override { inner_->LoseStep(); }
  std::optional<std::string> Transfer(std::string_view command,
                                      const gauge::LinkTimeouts& timeouts) override {
    std::string shown(command);
    if (!securityCode_.empty() && shown.size() > securityCode_.size()) {
      shown.erase(1, securityCode_.size());
    }
    fmt::print(stderr, "-> {}\n", Escaped(shown));
    auto heard = inner_->Transfer(command, timeouts);
    if (!heard) {
      fmt::print(stderr, "<- line failure: {}\n", inner_->Problem());
    } else if (heard->empty()) {
      fmt::print(stderr, "<- no reply\n");
    } else {
      fmt::print(stderr, "<- {}\n", Escaped(*heard));
    }
    return heard;
  }

 private:
  std::unique_ptr<gauge::GaugeLink> inner_;
  std::string securityCode_;
};

gauge::Format ParseFormat(const std::string& text) {
  return text == "display" ? gauge::Format::Display : gauge::Format::Computer;
}

template <typename T>
T Take(gauge::Outcome<T> outcome, const GaugeArgs& args, const std::string& where) {
  if (const auto* failure = gauge::FailureOf(outcome)) {
    throw OperationError(fmt::format("gauge {} failed on {}: {} ({})", args.report, where,
                                     gauge::LinkStateName(failure->state), failure->detail),
                         std::string(gauge::LinkStateName(failure->state)));
  }
  return std::get<T>(std::move(outcome));
}

}  // namespace

gauge::Units ParseUnits(const std::string& text) {
  return text == "us" ? gauge::Units::Us : gauge::Units::Metric;
}

std::string ReadSecurityCode(const std::string& path) {
  try {
    return gauge::ReadSecurityCodeFile(path);
  } catch (const std::invalid_argument& error) {
    throw UsageError(fmt::format("--security-code-file {}: {}", Shown(path), error.what()));
  }
}

CLI::App* AddGaugeCommand(CLI::App& app, GaugeArgs& args) {
  auto* command = app.add_subcommand(
      "gauge",
      "Read a tank gauge: inventory, deliveries or alarms (the simulated gauge without "
      "--port)");
  for (const char* report : {"inventory", "deliveries", "alarms"}) {
    const std::string what = report == std::string("inventory")
                                 ? "Every tank's volume, TC volume, ullage, height, water and "
                                   "temperature"
                             : report == std::string("deliveries")
                                 ? "The deliveries the gauge recorded"
                                 : "The alarms the gauge reports active";
    auto* sub = command->add_subcommand(report, what);
    sub->callback([&args, report] { args.report = report; });
    sub->add_option("--port", args.port,
                    "The gauge: a serial device or tcp://HOST:PORT; none: the simulated gauge")
        ->type_name("PATH|tcp://HOST:PORT");
    sub->add_option("-t,--tank", args.tank, "One tank, 1..99 (default: every tank)")
        ->check(CLI::Range(1, 99));
    sub->add_option("--baud", args.baud, "Serial speed (default 9600)")
        ->check(CLI::IsMember({1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}));
    if (report == std::string("inventory")) {
      sub->add_option("--format", args.format,
                      "computer (default) or display, for a gauge that only prints")
          ->check(CLI::IsMember({"computer", "display"}));
    }
    sub->add_option("--units", args.units, "What the gauge reports in: metric (default) or us")
        ->check(CLI::IsMember({"metric", "us"}));
    sub->add_option("--security-code-file", args.securityCodeFile,
                    "A file whose first line is the gauge's security code");
    sub->add_option("--timeout", args.timeoutMs, "Milliseconds to wait for the reply's first byte")
        ->check(CLI::Range(10, 60000));
    sub->add_flag("--json", args.json, "Print the report as one JSON object");
  }
  command->require_subcommand(1);
  command->footer(
      "Readings are printed in litres, millimetres and degrees Celsius whatever the gauge's "
      "units.\nExample: quorlan gauge inventory --port tcp://192.0.2.7:10001 --json");
  return command;
}

int RunGauge(const GlobalOptions& options, const GaugeArgs& args) {
  if (!options.ports.empty()) {
    throw UsageError("the gauge takes its own --port, after the report: quorlan gauge " +
                     args.report + " --port PATH");
  }
  gauge::ClientOptions clientOptions;
  clientOptions.format = ParseFormat(args.format);
  clientOptions.units = ParseUnits(args.units);
  if (!args.securityCodeFile.empty()) {
    clientOptions.securityCode = ReadSecurityCode(args.securityCodeFile);
  }
  clientOptions.timeouts.reply = std::chrono::milliseconds(args.timeoutMs);

  gauge::GaugePort port;
  try {
    port = gauge::ParseGaugePort(args.port.empty() ? std::string(gauge::kSimPort) : args.port);
  } catch (const std::invalid_argument& error) {
    throw UsageError(fmt::format("--port {}: {}", Shown(args.port), error.what()));
  }
  std::unique_ptr<gauge::GaugeLink> link;
  if (port.kind == gauge::GaugePort::Kind::Sim) {
    link = std::make_unique<sim::SimGaugeLink>(std::make_shared<sim::Gauge>(sim::GaugeOptions{
        .units = clientOptions.units, .securityCode = clientOptions.securityCode}));
  } else {
    link = gauge::OpenLink(port, unsigned(args.baud));
  }
  if (options.trace) {
    link = std::make_unique<TracingLink>(std::move(link), clientOptions.securityCode);
  }
  const std::string where = link->Describe();
  if (!link->Open(clientOptions.timeouts)) {
    throw LineSetupError(fmt::format("cannot open {}: {}", Shown(where), link->Problem()));
  }
  gauge::GaugeClient client(std::move(link), clientOptions);
  if (args.report == "inventory") {
    const auto inventory = Take(client.ReadInventory(args.tank), args, where);
    if (args.json) return PrintJson(InventoryJson(inventory)), kExitOk;
    for (const auto& tank : inventory.tanks) fmt::print("{}\n", InventoryText(tank));
  } else if (args.report == "deliveries") {
    const auto report = Take(client.ReadDeliveries(args.tank), args, where);
    if (args.json) return PrintJson(DeliveriesJson(report)), kExitOk;
    if (report.deliveries.empty()) fmt::print("no delivery recorded\n");
    for (const auto& delivery : report.deliveries) fmt::print("{}\n", DeliveryText(delivery));
  } else {
    const auto report = Take(client.ReadAlarms(args.tank), args, where);
    if (args.json) return PrintJson(AlarmsJson(report)), kExitOk;
    for (const auto& tank : report.tanks) fmt::print("{}\n", AlarmsText(tank));
  }
  return kExitOk;
}

}  // namespace quorlan::cli
