#include "Session.h"

#include "TracingDispatcher.h"
#include "base/Win1251.h"

namespace quorlan::cli {

Session::Session(const GlobalOptions& options, EmbeddedSimOptions simOptions) {
  if (options.logPath.empty()) {
    StartLogger();
  } else {
    DefaultLogger().SetFileName(options.logPath);
  }
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
      channels_.insert(spec.channel);
    }
    port_ = serialPort_.get();
  }
  if (options.trace) {
    tracer_ = std::make_unique<TracingDispatcher>(*port_, stderr);
    port_ = tracer_.get();
  }
  driver_ = std::make_unique<TVM30>(*port_, 0);
  OpenChannels();
}

Session::~Session() = default;

void Session::OpenChannels() {
  for (int c : channels_) {
    Run("open", c, 0, [c](TVM30& driver) { driver.OpenChannel(static_cast<std::uint32_t>(c)); });
    if (serialPort_ && !serialPort_->IsOpen(c)) {
      throw LineSetupError(
          fmt::format("cannot open channel {}: {}", c, serialPort_->LineProblem(c)));
    }
    // The driver would send its start-up grade 1 price before the first
    // nozzle status; this session knows no real price, so it sends none.
    for (int d = 1; d <= kDispensers; ++d) driver_->State().priceDirty[c][d] = 0;
  }
}

void Session::RequireChannel(int channel) const {
  if (channels_.contains(channel)) return;
  throw UsageError(
      line_ ? fmt::format("channel {}: the embedded simulator serves channel 1 only", channel)
            : fmt::format("channel {} has no line: give --port {}=PATH", channel, channel));
}

void Session::RememberPrice(int channel, int dispenser, int grade) {
  knownPrices_.emplace(channel, dispenser, grade);
}

bool Session::PriceKnown(int channel, int dispenser, int grade) const {
  return knownPrices_.contains({channel, dispenser, grade});
}

std::string Session::LineCodeText(int channel, std::uint32_t code) const {
  switch (code) {
    case kErrorBadLength:
      return "reply of the wrong length";
    case kErrorBadComplement:
      return "reply fails the complement check";
    case kErrorNoReply:
      return "no reply";
    case kErrorVerifierException:
      return "reply check failed";
    case kErrorLineFailure:
      if (serialPort_) return "line failure: " + serialPort_->LineProblem(channel);
      return "line failure";
    default:
      return "line error";
  }
}

std::string Session::Describe(std::string_view operation, int channel, int dispenser,
                              const EDriverError& error) const {
  std::string text = fmt::format("{} failed on channel {}", operation, channel);
  if (dispenser > 0) text += fmt::format(", dispenser {}", dispenser);
  text += ": " + Win1251ToUtf8(error.Message());
  if (dynamic_cast<const ESerialIO*>(&error)) {
    const auto code = port_->GetError(channel);
    text += fmt::format(" ({}, code {:X})", LineCodeText(channel, code), code);
  }
  return text;
}

}  // namespace quorlan::cli
