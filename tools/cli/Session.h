#pragma once
// One driver on its lines for the life of a command or a shell: the embedded
// simulator or the serial ports, the optional trace, the log, and the driver
// object with its channels opened. Driver failures become one-line errors.

#include <fmt/format.h>

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

#include "ExitCodes.h"
#include "GlobalOptions.h"
#include "base/Errors.h"
#include "driver/TVM30.h"
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

  TVM30& Driver() { return *driver_; }
  // The embedded simulator's line; null when the session runs on ports.
  sim::Line* EmbeddedLine() const { return line_.get(); }
  // Throws UsageError when the channel has no line in this session.
  void RequireChannel(int channel) const;

  // Runs one driver operation; a driver exception becomes an OperationError
  // naming the operation, the channel, the dispenser and the driver's words.
  template <class Step>
  decltype(auto) Run(std::string_view operation, int channel, int dispenser, Step&& step) {
    try {
      return step(*driver_);
    } catch (const EDriverError& error) {
      throw OperationError(Describe(operation, channel, dispenser, error));
    }
  }

  // Prices this session has sent; a preset needs the grade's real price.
  void RememberPrice(int channel, int dispenser, int grade);
  bool PriceKnown(int channel, int dispenser, int grade) const;

 private:
  void OpenChannels();
  std::string Describe(std::string_view operation, int channel, int dispenser,
                       const EDriverError& error) const;
  std::string LineCodeText(int channel, std::uint32_t code) const;

  std::shared_ptr<sim::Line> line_;
  std::unique_ptr<sim::SimDispatcher> simPort_;
  std::unique_ptr<serial::SerialDispatcher> serialPort_;
  std::unique_ptr<TracingDispatcher> tracer_;
  TPortDispatcher* port_ = nullptr;
  std::unique_ptr<TVM30> driver_;
  std::set<int> channels_;
  std::set<std::tuple<int, int, int>> knownPrices_;
};

}  // namespace quorlan::cli
