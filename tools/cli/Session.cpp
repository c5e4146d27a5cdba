#include "Session.h"

#include "Arguments.h"
#include "PriceFile.h"
#include "TracingDispatcher.h"

namespace quorlan::cli {

namespace {
// How the serial transport words a port another process holds.
constexpr std::string_view kPortBusy = "port busy";
}  // namespace

Session::Session(const GlobalOptions& options, EmbeddedSimOptions simOptions) {
  const auto ports = ParsePorts(options.ports);
  if (ports.empty()) {
    line_ = std::make_shared<sim::Line>(sim::LineOptions{.dispensers = simOptions.dispensers,
                                                         .flowRate = simOptions.flowRate,
                                                         .autoNozzle = simOptions.autoNozzle,
                                                         .startWithoutPrices = false});
    simPort_ = std::make_unique<sim::SimDispatcher>();
    simPort_->Attach(1, line_);
    port_ = simPort_.get();
    channels_.insert(1);
  } else {
    serialPort_ = std::make_unique<serial::SerialDispatcher>();
    for (const auto& spec : ports) {
      serialPort_->MapChannel(spec.channel, spec.path);
      serialPort_->SetEcho(spec.channel, options.echo);
      channels_.insert(spec.channel);
      paths_[spec.channel] = spec.path;
    }
    port_ = serialPort_.get();
  }
  if (options.trace) {
    tracer_ = std::make_unique<TracingDispatcher>(*port_, stderr);
    port_ = tracer_.get();
  }
  // --trace shows every exchange on stderr; the log then keeps them too.
  driver_ = std::make_unique<Driver>(
      *port_, DriverOptions{.logFile = UsableLogPath(options),
                            .logLevel = options.trace ? LogLevel::Trace : LogLevel::Info});
  OpenChannels();
  if (!options.pricesFile.empty()) LoadPrices(options.pricesFile);
}

Session::~Session() = default;

void Session::OpenChannels() {
  for (int c : channels_) {
    try {
      Run("open", c, 0, [c](Driver& driver) { driver.OpenLine(static_cast<Channel>(c)); });
    } catch (const OperationError&) {
      if (!serialPort_ || serialPort_->IsOpen(c)) throw;
    }
    if (serialPort_ && !serialPort_->IsOpen(c)) {
      const auto problem = serialPort_->LineProblem(c);
      if (problem.starts_with(kPortBusy)) {
        throw LineSetupError(fmt::format("port busy: {}", Shown(paths_.at(c))));
      }
      throw LineSetupError(fmt::format("cannot open channel {}: {}", c, Escaped(problem)));
    }
  }
}

void Session::LoadPrices(const std::string& path) {
  const auto prices = LoadPriceFile(path);
  for (int c : channels_) {
    for (int d = 1; d <= int{kLastDispenser}; ++d) {
      const auto table = prices.For(c, d);
      if (!table) continue;
      for (int g = 1; g <= int{kTableGrades}; ++g) {
        driver_->SetPrice(static_cast<Channel>(c), static_cast<Dispenser>(d), static_cast<Grade>(g),
                          (*table)[std::size_t(g - 1)]);
      }
    }
  }
}

void Session::RequireChannel(int channel) const {
  if (channels_.contains(channel)) return;
  throw UsageError(
      line_ ? fmt::format("channel {}: the embedded simulator serves channel 1 only", channel)
            : fmt::format("channel {} has no line: give --port {}=PATH", channel, channel));
}

void Session::RememberLimit(int channel, int dispenser, Limit limit) {
  limits_[{channel, dispenser}] = limit;
}

Limit Session::LastLimit(int channel, int dispenser) const {
  const auto limit = limits_.find({channel, dispenser});
  return limit == limits_.end() ? Limit::None() : limit->second;
}

OperationError Session::Failure(std::string_view operation, int channel, int dispenser,
                                std::uint32_t code) const {
  std::string text = fmt::format("{} failed on channel {}", operation, channel);
  if (dispenser > 0) text += fmt::format(", dispenser {}", dispenser);
  switch (static_cast<LinkError>(code)) {
    case LinkError::NoReply:
      return OperationError(fmt::format("{}: no reply (code {:X})", text, code), "no reply");
    case LinkError::LineFailure: {
      const auto problem = serialPort_ ? serialPort_->LineProblem(channel) : std::string{};
      if (problem.starts_with(kPortBusy)) {
        return OperationError(fmt::format("{}: port busy: {}", text, Shown(paths_.at(channel))),
                              "port busy");
      }
      return OperationError(fmt::format("{}: line failure{}{} (code {:X})", text,
                                        problem.empty() ? "" : ": ", Escaped(problem), code),
                            "line down");
    }
    default:
      return OperationError(fmt::format("{}: {} (code {:X})", text, Describe(code), code),
                            "bad reply");
  }
}

}  // namespace quorlan::cli
