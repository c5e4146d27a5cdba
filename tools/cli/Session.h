#pragma once
// One driver on its lines for the life of a command or a shell: the embedded
// simulator or the serial ports, the optional trace, the log, the price
// book, and the driver with its channels opened. Driver failures become
// one-line errors.

#include <fmt/format.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "ExitCodes.h"
#include "GlobalOptions.h"
#include "Report.h"
#include "quorlan/Driver.h"
#include "quorlan/SerialTransport.h"
#include "sim/SimDispatcher.h"

namespace quorlan::cli {

class TracingDispatcher;

// The embedded simulator the session builds when no --port is given.
struct EmbeddedSimOptions {
  int dispensers = 4;
  double flowRate = 1.0;  // litres a second
  bool autoNozzle = true;
};

class Session {
 public:
  explicit Session(const GlobalOptions& options, EmbeddedSimOptions simOptions = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The embedded simulator's line; null when the session runs on ports.
  sim::Line* EmbeddedLine() const { return line_.get(); }
  const std::set<int>& Channels() const { return channels_; }
  // Throws UsageError when the channel has no line in this session.
  void RequireChannel(int channel) const;

  // Runs one driver operation; a driver exception becomes a UsageError when
  // the driver refused the request before sending (a missing price, a value
  // out of range), else an OperationError naming the operation, the channel,
  // the dispenser and what went wrong.
  template <class Step>
  decltype(auto) Run(std::string_view operation, int channel, int dispenser, Step&& step) {
    try {
      return step(*driver_);
    } catch (const NoPrice& error) {
      throw UsageError(fmt::format("{} refused: {}", operation, error.what()));
    } catch (const InvalidArgument& error) {
      throw UsageError(fmt::format("{} refused: {}", operation, error.what()));
    } catch (const LinkFailure& error) {
      throw Failure(operation, channel, dispenser, error.Code());
    } catch (const Error& error) {
      throw OperationError(
          fmt::format("{} failed on {}: {}", operation, Where(channel, dispenser), error.what()));
    }
  }

  // The limit of the last authorization this session sent, for watch.
  void RememberLimit(int channel, int dispenser, Limit limit);
  Limit LastLimit(int channel, int dispenser) const;

 private:
  void OpenChannels();
  void LoadPrices(const std::string& path);
  OperationError Failure(std::string_view operation, int channel, int dispenser,
                         std::uint32_t code) const;

  std::shared_ptr<sim::Line> line_;
  std::unique_ptr<sim::SimDispatcher> simPort_;
  std::unique_ptr<serial::SerialDispatcher> serialPort_;
  std::unique_ptr<TracingDispatcher> tracer_;
  TPortDispatcher* port_ = nullptr;
  std::unique_ptr<Driver> driver_;
  std::set<int> channels_;
  std::map<int, std::string> paths_;
  std::map<std::pair<int, int>, Limit> limits_;
};

}  // namespace quorlan::cli
