// SPDX-License-Identifier: Apache-2.0
#include "Tap.h"

#include <fmt/format.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>

#include "Arguments.h"
#include "ExitCodes.h"
#include "ListenPort.h"
#include "Signals.h"
#include "TapDecoder.h"
#include "TapFormat.h"
#include "capture/Pcap.h"

namespace quorlan::cli {

namespace {

// How often silence is looked at, so that a missing reply shows soon.
constexpr int kIdlePollMs = 10;

tap::Micros Now() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class TapOutput {
 public:
  TapOutput(const TapArgs& args) : json_(args.json) {
    if (args.pcapPath.empty()) return;
    try {
      capture_.emplace(args.pcapPath);
    } catch (const std::runtime_error& error) {
      throw LineSetupError(fmt::format("--pcap {}", error.what()));
    }
  }

  // Prints and captures; returns the number of exchanges among them.
  int Emit(const std::vector<tap::Event>& events) {
    int exchanges = 0;
    for (const auto& event : events) {
      fmt::print("{}\n", json_ ? tap::JsonLine(event) : tap::TextLine(event));
      if (const auto* exchange = std::get_if<tap::Exchange>(&event)) {
        ++exchanges;
        Capture({exchange->requestTime, true, exchange->request});
        if (!exchange->reply.empty()) Capture({exchange->replyTime, false, exchange->reply});
      } else {
        const auto& noise = std::get<tap::Noise>(event);
        Capture({noise.time, noise.side == tap::Side::Host, noise.bytes});
      }
    }
    std::fflush(stdout);
    return exchanges;
  }

 private:
  void Capture(const pcap::Record& record) {
    if (capture_) capture_->Write(record);
  }

  bool json_;
  std::optional<pcap::Writer> capture_;
};

// Reads what is waiting; false once the line is gone.
bool ReadInto(tap::Decoder& decoder, const ListenPort& port, tap::Side side) {
  std::uint8_t buffer[512];
  const auto count = ::read(port.Descriptor(), buffer, sizeof buffer);
  if (count > 0) {
    decoder.Feed(side, Now(), std::span(buffer, std::size_t(count)));
    return true;
  }
  return count < 0 && (errno == EAGAIN || errno == EINTR);
}

}  // namespace

CLI::App* AddTapCommand(CLI::App& app, TapArgs& args) {
  auto* command = app.add_subcommand(
      "tap",
      "Listen on a line without sending and print every exchange decoded (dispenser protocol "
      "only: a tank gauge's traffic is not told apart and shows as noise)");
  command
      ->add_option("ports", args.ports,
                   "The line (a two-wire line's shared wire), or two: the host's side, then the "
                   "dispenser's side of a tap cable")
      ->required()
      ->expected(1, 2)
      ->type_name("PATH");
  command->add_flag("--json", args.json, "One JSON object a line");
  command->add_option("--pcap", args.pcapPath, "Also write a capture for Wireshark")
      ->type_name("FILE");
  command->add_option("--baud", args.baud, "The line's speed")->capture_default_str();
  command
      ->add_option("--gap", args.gapMs,
                   "Silence, in milliseconds, that ends a reply or a half frame")
      ->check(CLI::Range(2, 10000))
      ->capture_default_str();
  command->add_option("--count", args.count, "Stop after this many exchanges")
      ->check(CLI::Range(1, 1000000));
  return command;
}

int RunTap(const GlobalOptions& options, const TapArgs& args) {
  if (!options.ports.empty()) throw UsageError("tap names its lines itself: leave out --port");
  std::vector<std::unique_ptr<ListenPort>> ports;
  for (const auto& path : args.ports)
    ports.push_back(std::make_unique<ListenPort>(path, args.baud));
  TapOutput output(args);
  tap::DecoderOptions decoderOptions;
  decoderOptions.gap = tap::Micros{args.gapMs} * 1000;
  tap::Decoder decoder(decoderOptions);
  const bool split = ports.size() == 2;
  if (!args.json) {
    // The tap decodes the dispensers' frames only; say so, since a gauge's
    // bytes on the same wire would otherwise look like a faulty line.
    fmt::print("listening on {} (dispenser protocol only: a tank gauge's bytes show as noise)\n",
               split ? fmt::format("{} (host) and {} (dispenser)", Shown(args.ports[0]),
                                   Shown(args.ports[1]))
                     : Shown(args.ports[0]));
    std::fflush(stdout);
  }

  StopSignalScope signals;
  int exchanges = 0;
  bool open = true;
  while (open && !StopRequested() && (args.count == 0 || exchanges < args.count)) {
    std::vector<pollfd> waiting;
    for (const auto& port : ports) waiting.push_back({port->Descriptor(), POLLIN, 0});
    const int ready = ::poll(waiting.data(), waiting.size(), kIdlePollMs);
    if (ready > 0) {
      // A reply being read is older than a request waiting beside it.
      const std::size_t first = split && decoder.AwaitingReply() ? 1 : 0;
      for (std::size_t i = 0; i < ports.size(); ++i) {
        const std::size_t at = (first + i) % ports.size();
        if (waiting[at].revents == 0) continue;
        const auto side =
            !split ? tap::Side::Unknown : (at == 0 ? tap::Side::Host : tap::Side::Dispenser);
        open = ReadInto(decoder, *ports[at], side) && open;
      }
    }
    decoder.Idle(Now());
    exchanges += output.Emit(decoder.Take());
  }
  decoder.Finish();
  output.Emit(decoder.Take());
  if (!open && !args.json) fmt::print(stderr, "quorlan tap: the line closed\n");
  return kExitOk;
}

}  // namespace quorlan::cli
