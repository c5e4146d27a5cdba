// SPDX-License-Identifier: Apache-2.0
#include "Scan.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "Arguments.h"
#include "ExitCodes.h"
#include "Signals.h"
#include "TapShapes.h"
#include "link/Frame.h"
#include "quorlan/SerialLine.h"

namespace quorlan::cli {

namespace {

// Silence kept between two requests, beyond the line's own settling.
constexpr std::chrono::milliseconds kGuard{20};
constexpr int kReplyBytes = requests::kStatus.ReplyLength();

const char* FindingName(ScanFinding finding) {
  switch (finding) {
    case ScanFinding::Answers:
      return "answers";
    case ScanFinding::Nothing:
      return "nothing";
    case ScanFinding::Echo:
      return "echo of our request";
    case ScanFinding::BrokenComplement:
      return "broken complements";
    case ScanFinding::Short:
      return "short reply";
  }
  return "";
}

std::string Advice(const std::map<ScanFinding, int>& seen) {
  const auto count = [&seen](ScanFinding finding) {
    const auto found = seen.find(finding);
    return found == seen.end() ? 0 : found->second;
  };
  std::string advice;
  if (count(ScanFinding::Echo) > 0) {
    advice +=
        "the line gives back our own requests: a two-wire adapter that hears itself; set "
        "echo = true for serve, --echo for the command\n";
  }
  if (count(ScanFinding::BrokenComplement) > 0) {
    advice += fmt::format(
        "bytes came back that are not pairs of a byte and its complement: check the line's "
        "speed ({} baud) and framing (8 data bits, no parity, 1 stop bit)\n",
        kLineBaud);
  }
  if (count(ScanFinding::Answers) == 0 && count(ScanFinding::Echo) == 0 &&
      count(ScanFinding::BrokenComplement) == 0 && count(ScanFinding::Short) == 0) {
    advice +=
        "nothing at all came back: check the port, the adapter's power, the wiring and the "
        "dispensers' addresses\n";
  }
  return advice;
}

}  // namespace

ScanResult JudgeScanReply(std::span<const std::uint8_t> request,
                          std::span<const std::uint8_t> received) {
  if (received.empty()) return {ScanFinding::Nothing};
  // A status reply starts with the request's own pairs, so only the length
  // tells an echo from a reply: the request alone, or the request before a
  // whole reply.
  const bool startsWithRequest = received.size() >= request.size() &&
                                 std::equal(request.begin(), request.end(), received.begin());
  if (startsWithRequest && received.size() != std::size_t(kReplyBytes)) {
    return {ScanFinding::Echo};
  }
  if (tap::BrokenPair(received)) return {ScanFinding::BrokenComplement};
  if (received.size() < std::size_t(kReplyBytes)) return {ScanFinding::Short};
  return {ScanFinding::Answers, received[2 * kStatusByteIndex]};
}

CLI::App* AddScanCommand(CLI::App& app, ScanArgs& args) {
  auto* command =
      app.add_subcommand("scan", "Ask addresses 1..32 of a line for their status, one by one");
  command->add_option("port", args.port, "The serial line")->required()->type_name("PATH");
  command->add_option("--from", args.first, "First address")
      ->check(CLI::Range(1, tap::kDispensers))
      ->type_name("1..32");
  command->add_option("--to", args.last, "Last address")
      ->check(CLI::Range(1, tap::kDispensers))
      ->type_name("1..32");
  command->add_option("--timeout", args.timeoutMs, "Wait for a reply's first byte, milliseconds")
      ->check(CLI::Range(20, 5000))
      ->capture_default_str();
  command->add_flag("--json", args.json, "One JSON object an address");
  return command;
}

int RunScan(const GlobalOptions& options, const ScanArgs& args) {
  if (!options.ports.empty()) throw UsageError("scan names its line itself: leave out --port");
  if (args.first > args.last) {
    throw UsageError(fmt::format("scan --from {} --to {}: the first address is after the last",
                                 args.first, args.last));
  }
  serial::SerialLine line(args.port);
  if (!line.Open(kLineBaud)) {
    throw LineSetupError(fmt::format("cannot open {}: {}", Shown(args.port), line.Problem()));
  }
  serial::LineTimeouts timeouts;
  timeouts.reply = std::chrono::milliseconds(args.timeoutMs);
  StopSignalScope signals;
  std::map<ScanFinding, int> seen;
  for (int address = args.first; address <= args.last && !StopRequested(); ++address) {
    const Frame frame = BuildFrame(address, requests::kStatus.command, {});
    // Room for an echo of the request before a whole reply.
    std::array<std::uint8_t, 2 * (kMaxRequestData + 2) + kReplyBytes> reply{};
    const auto received =
        line.Transfer(frame.View(), std::span(reply.data(), frame.length + kReplyBytes), timeouts);
    if (!received) {
      throw LineSetupError(
          fmt::format("{}: the line failed: {}", Shown(args.port), line.Problem()));
    }
    auto bytes = std::span<const std::uint8_t>(reply.data(), received->count);
    auto result = JudgeScanReply(frame.View(), bytes);
    if (result.finding != ScanFinding::Answers) line.LoseStep();
    ++seen[result.finding];
    // After an echo, a reply may follow: the dispenser is there all the same.
    std::string state;
    if (result.finding == ScanFinding::Echo && bytes.size() > std::size_t(frame.length)) {
      const auto after = JudgeScanReply(frame.View(), bytes.subspan(std::size_t(frame.length)));
      if (after.finding == ScanFinding::Answers) state = tap::StatusName(after.statusByte);
    }
    if (result.finding == ScanFinding::Answers) state = tap::StatusName(result.statusByte);
    if (args.json) {
      nlohmann::json json{{"address", address}, {"found", FindingName(result.finding)}};
      if (!state.empty()) json["state"] = state;
      fmt::print("{}\n", json.dump());
    } else if (result.finding != ScanFinding::Nothing) {
      fmt::print("dispenser {}: {}{}\n", address, FindingName(result.finding),
                 state.empty() ? "" : ", " + state);
    }
    std::fflush(stdout);
    std::this_thread::sleep_for(kGuard);
  }
  if (!args.json) {
    fmt::print("{} of {} addresses answer\n", seen[ScanFinding::Answers],
               args.last - args.first + 1);
    fmt::print("{}", Advice(seen));
  }
  return kExitOk;
}

}  // namespace quorlan::cli
