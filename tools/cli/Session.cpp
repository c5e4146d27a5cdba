#include "Session.h"

#include "Arguments.h"
#include "PriceFile.h"
#include "TracingDispatcher.h"
#include "base/Win1251.h"

namespace quorlan::cli {

// Both transports report a missing reply alike.
static_assert(serial::kErrorNoReply == sim::kErrorNoReply);

namespace {
// How the serial transport words a port another process holds.
constexpr std::string_view kPortBusy = "port busy";
}  // namespace

Session::Session(const GlobalOptions& options, EmbeddedSimOptions simOptions)
    : trace_(options.trace) {
  DefaultLogger().SetFileName(UsableLogPath(options));
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
      paths_[spec.channel] = spec.path;
    }
    port_ = serialPort_.get();
  }
  if (options.trace) {
    tracer_ = std::make_unique<TracingDispatcher>(*port_, stderr);
    port_ = tracer_.get();
  }
  driver_ = std::make_unique<TVM30>(*port_, 0);
  OpenChannels();
  if (!options.pricesFile.empty()) LoadPrices(options.pricesFile);
}

Session::~Session() = default;

void Session::OpenChannels() {
  for (int c : channels_) {
    Run("open", c, 0, [c](TVM30& driver) { driver.OpenChannel(static_cast<std::uint32_t>(c)); });
    if (serialPort_ && !serialPort_->IsOpen(c)) {
      const auto problem = serialPort_->LineProblem(c);
      if (problem.starts_with(kPortBusy)) {
        throw LineSetupError(fmt::format("port busy: {}", Shown(paths_.at(c))));
      }
      throw LineSetupError(fmt::format("cannot open channel {}: {}", c, Escaped(problem)));
    }
    // The driver would send its start-up grade 1 price before the first
    // nozzle status; this session knows no real price, so it sends none.
    for (int d = 1; d <= kDispensers; ++d) driver_->State().priceDirty[c][d] = 0;
  }
}

void Session::LoadPrices(const std::string& path) {
  const auto prices = LoadPriceFile(path);
  for (int c : channels_) {
    for (int d = 1; d <= int{kLastDispenser}; ++d) {
      const auto table = prices.For(c, d);
      if (!table) continue;
      for (int g = 1; g <= int{kTableGrades}; ++g) book_[{c, d, g}] = (*table)[std::size_t(g - 1)];
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

std::string Session::LineCodeText(int channel, std::uint32_t code) const {
  switch (code) {
    case kErrorBadLength:
      return "reply of the wrong length";
    case kErrorBadComplement:
      return "reply fails the complement check";
    case serial::kErrorNoReply:
      return "no reply";
    case serial::kErrorVerifierRaised:
      return "reply check failed";
    case serial::kErrorLineFailure:
      if (serialPort_) return "line failure: " + Escaped(serialPort_->LineProblem(channel));
      return "line failure";
    default:
      return "line error";
  }
}

OperationError Session::Failure(std::string_view operation, int channel, int dispenser,
                                const EDriverError& error) const {
  std::string text = fmt::format("{} failed on channel {}", operation, channel);
  if (dispenser > 0) text += fmt::format(", dispenser {}", dispenser);
  // The driver's own words go to the trace (and its log), the line stays English.
  if (trace_) fmt::print(stderr, "c{} driver: {}\n", channel, Win1251ToUtf8(error.Message()));
  if (!dynamic_cast<const ESerialIO*>(&error)) {
    return OperationError(text + ": the driver refused the request", "refused");
  }
  const auto code = port_->GetError(channel);
  const auto why = LineCodeText(channel, code);
  const char* condition = code == serial::kErrorNoReply       ? "no reply"
                          : code == serial::kErrorLineFailure ? "line down"
                                                              : "bad reply";
  return OperationError(fmt::format("{}: {} (code {:X})", text, why, code), condition);
}

}  // namespace quorlan::cli
