#pragma once
// The driver core for programs that embed it: named operations with typed
// results, one driver object for every line of a transport, and a price book
// that keeps every price nobody gave off the line.
//
// Operations on one channel must not run at the same time; different
// channels may run on different threads.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "quorlan/Errors.h"
#include "quorlan/Transport.h"

namespace quorlan {

using Channel = std::uint8_t;    // 1..32
using Dispenser = std::uint8_t;  // 1..32 on its line
using Grade = std::uint8_t;      // 1..8; the price table carries 1..4
using Nozzle = std::uint8_t;     // 1..8; 0 means none

// Channels run 1..kLastChannel (quorlan/PortDispatcher.h).
inline constexpr Dispenser kLastDispenser = 32;
inline constexpr Grade kLastGrade = 8;
inline constexpr Nozzle kLastNozzle = 8;
inline constexpr Grade kTableGrades = 4;
// Prices and limits in hundredths: a price has four digits on the line, a
// limit six.
inline constexpr std::int64_t kLowestPrice = 1;        // 0.01
inline constexpr std::int64_t kHighestPrice = 9999;    // 99.99
inline constexpr std::int64_t kLowestLimit = 1;        // 0.01
inline constexpr std::int64_t kHighestLimit = 999999;  // 9999.99

// What a status poll says of a dispenser, in words a person or a client uses.
enum class DispenserState : std::uint8_t {
  Idle,        // nozzle hung, nothing authorized
  Authorized,  // waiting for the nozzle
  Filling,
  Stopped,   // fill stopped or limit reached, nozzle still up
  Finished,  // fill over, nozzle hung, waiting for release
  NoPrices,  // powered up without prices, or its grade 1 price was never given
  NoReply,   // no valid status this time
  Unknown,   // a status the driver does not know
};
// "idle", "authorized", "filling", "stopped", "finished", "no prices",
// "no reply", "unknown".
std::string_view StateName(DispenserState state);

struct Status {
  DispenserState state = DispenserState::NoReply;
  std::uint8_t code = 0;                   // the driver's state code, 0..255
  std::optional<std::uint8_t> statusByte;  // the raw byte of the reply, when one came
  Nozzle nozzle = 0;                       // lifted nozzle; 0 when none or not asked
  double volume = 0;                       // the fill in progress or the last one
  double amount = 0;
};

struct Reading {
  double volume = 0;
  double amount = 0;
};

// An authorization's limit: none (plain), litres, or money.
struct Limit {
  enum class Kind : std::uint8_t { None, Volume, Amount };
  Kind kind = Kind::None;
  double value = 0;

  static Limit None() { return {}; }
  static Limit Volume(double litres) { return {Kind::Volume, litres}; }
  static Limit Amount(double money) { return {Kind::Amount, money}; }
};

// What the driver's log records: commands, line events and failures (a
// failure repeating is written once, then counted once a minute), or with
// Trace every exchange as well.
enum class LogLevel : std::uint8_t { Info, Trace };

struct DriverOptions {
  // The amount of a fill from its volume and the authorized price rather than
  // from the dispenser's amount field.
  bool amountFromVolume = false;
  // The driver's log (UTF-8, one line each, RFC 3339 stamps); empty: no log.
  std::string logFile;
  LogLevel logLevel = LogLevel::Info;
};

class Driver {
 public:
  explicit Driver(Transport& transport, DriverOptions options = {});
  // Any port dispatcher, e.g. one that wraps a transport to trace it.
  explicit Driver(TPortDispatcher& port, DriverOptions options = {});
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Sets the line up (8N1, 9600 baud) through the transport.
  void OpenLine(Channel channel);

  // The price book. Prices are 0.01..99.99 with at most two decimals;
  // anything else throws InvalidArgument and changes nothing.
  void SetPrice(Channel channel, Dispenser dispenser, Grade grade, double price);
  std::optional<double> Price(Channel channel, Dispenser dispenser, Grade grade) const;
  // Sends the price table of grades 1..4 from the book; throws NoPrice, with
  // nothing sent, when the book lacks one of them.
  void DownloadPrices(Channel channel, Dispenser dispenser);

  // A status poll; `nozzleMode` is the host nozzle mode (0: the nozzle is not
  // asked for). A dispenser that asks for its grade 1 price gets it only from
  // the book; without one it reports NoPrices and nothing is sent for it.
  Status Poll(Channel channel, Dispenser dispenser, std::uint8_t nozzleMode = 1);

  // Plain (the frame carries no grade) or with a limit; a limit sends the
  // grade's price from the book and throws NoPrice without one. A limit of
  // zero or below throws InvalidArgument. Nothing is sent on a throw before
  // the exchange.
  void Authorize(Channel channel, Dispenser dispenser, Grade grade, Limit limit = Limit::None());
  void Stop(Channel channel, Dispenser dispenser);

  // What the last poll stored of the fill.
  Reading Transaction(Channel channel, Dispenser dispenser);
  // The nozzle's totals, read now; throws LinkFailure when the readout did not
  // arrive whole (a reading that did not arrive is never zero).
  Reading Totals(Channel channel, Dispenser dispenser, Nozzle nozzle);

  // A line of the embedder's own in the driver's log at the info level:
  // state changes, line events.
  void LogEvent(std::string_view text);
  // For logrotate: the log is opened by name for every line, so this only
  // writes out the counts of repeated failures still held back.
  void ReopenLog();

 private:
  struct Core;
  std::unique_ptr<Core> core_;
};

}  // namespace quorlan
