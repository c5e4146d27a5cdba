// SPDX-License-Identifier: Apache-2.0
#include "Replay.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

#include "Arguments.h"
#include "ExitCodes.h"
#include "Hex.h"
#include "Signals.h"
#include "capture/Pcap.h"

namespace quorlan::cli {

namespace {

constexpr int kPollMs = 100;

// A raw pseudo-terminal: the master stays here, the slave is the line.
struct Pty {
  int master = -1;
  int slave = -1;  // kept open so the master never sees a hang-up
  std::string path;
  Pty() {
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      throw LineSetupError(fmt::format("replay: no pseudo-terminal: {}", std::strerror(errno)));
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    termios settings{};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B9600);
    ::tcsetattr(slave, TCSANOW, &settings);
    std::array<char, PATH_MAX> name{};
    if (::ttyname_r(slave, name.data(), name.size()) == 0) path = name.data();
  }
  ~Pty() {
    ::close(master);
    ::close(slave);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
};

void WriteAll(int fd, const tap::Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const auto n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += std::size_t(n);
  }
}

std::string Describe(const tap::Bytes& request) {
  tap::Decoder decoder;
  decoder.Feed(tap::Side::Host, 0, request);
  if (const auto* exchange = decoder.Awaiting()) {
    return fmt::format("dispenser {} {} ({})", exchange->dispenser, exchange->kind->name,
                       HexBytes(request));
  }
  return HexBytes(request);
}

}  // namespace

ReplayScript::Answer ReplayScript::Respond(const tap::Bytes& request) {
  const auto reply = [](const tap::Exchange& exchange) -> std::optional<tap::Bytes> {
    if (exchange.reply.empty()) return std::nullopt;
    return exchange.reply;
  };
  if (next_ < exchanges_.size() && exchanges_[next_].request == request) {
    return {reply(exchanges_[next_++]), true, nullptr};
  }
  Answer answer{std::nullopt, false, next_ < exchanges_.size() ? &exchanges_[next_] : nullptr};
  for (std::size_t i = next_; i < exchanges_.size(); ++i) {
    if (exchanges_[i].request != request) continue;
    answer.reply = reply(exchanges_[i]);
    next_ = i + 1;
    return answer;
  }
  for (std::size_t i = 0; i < next_ && i < exchanges_.size(); ++i) {
    if (exchanges_[i].request == request) {
      answer.reply = reply(exchanges_[i]);
      break;
    }
  }
  return answer;
}

std::vector<tap::Exchange> ReadCapture(const std::string& path) {
  std::vector<pcap::Record> records;
  try {
    records = pcap::Read(path);
  } catch (const std::runtime_error& error) {
    throw UsageError(fmt::format("replay: {}", error.what()));
  }
  tap::Decoder decoder;
  std::vector<tap::Exchange> exchanges;
  const auto collect = [&] {
    for (auto& event : decoder.Take()) {
      if (auto* exchange = std::get_if<tap::Exchange>(&event)) exchanges.push_back(*exchange);
    }
  };
  const pcap::Record* sent = nullptr;
  for (const auto& record : records) {
    // A two-wire adapter that hears itself puts the request back before its
    // reply; the replayed line has no such adapter.
    if (!record.fromHost && sent && record.bytes == sent->bytes) continue;
    if (record.fromHost) sent = &record;
    decoder.Feed(record.fromHost ? tap::Side::Host : tap::Side::Dispenser, record.micros,
                 record.bytes);
    collect();
  }
  decoder.Finish();
  collect();
  if (exchanges.empty())
    throw UsageError(fmt::format("replay: {}: no exchange in it", Shown(path)));
  return exchanges;
}

CLI::App* AddReplayCommand(CLI::App& app, ReplayArgs& args) {
  auto* command = app.add_subcommand(
      "replay", "Play a capture's dispenser side on a pseudo-terminal; prints its path first");
  command->add_option("capture", args.capture, "A capture written by quorlan tap --pcap")
      ->required()
      ->type_name("FILE");
  command->footer(
      "Requests that differ from the capture's are reported on stderr; each is answered with "
      "the capture's reply to the same request, if it has one.");
  return command;
}

int RunReplay(const GlobalOptions& options, const ReplayArgs& args) {
  if (!options.ports.empty()) throw UsageError("replay serves its own line: leave out --port");
  ReplayScript script(ReadCapture(args.capture));
  Pty pty;
  StopSignalScope signals;
  fmt::print("{}\n", pty.path);
  std::fflush(stdout);

  tap::Decoder cutter;
  int differing = 0, requests = 0;
  while (!StopRequested()) {
    pollfd readable{pty.master, POLLIN, 0};
    if (::poll(&readable, 1, kPollMs) <= 0) continue;
    std::array<std::uint8_t, 512> buffer{};
    const auto count = ::read(pty.master, buffer.data(), buffer.size());
    if (count <= 0) continue;
    for (std::size_t i = 0; i < std::size_t(count); ++i) {
      cutter.Feed(tap::Side::Host, 0, std::span(&buffer[i], 1));
      const auto* request = cutter.Awaiting();
      if (request == nullptr) continue;
      ++requests;
      const auto answer = script.Respond(request->request);
      if (!answer.expected) {
        ++differing;
        fmt::print(stderr, "quorlan replay: request {} differs: {}, the capture has {}\n", requests,
                   Describe(request->request),
                   answer.next ? Describe(answer.next->request) : "no more requests");
      }
      if (answer.reply) WriteAll(pty.master, *answer.reply);
      cutter.Finish();  // the request is answered; the next byte starts another
      cutter.Take();
    }
  }
  fmt::print(stderr, "quorlan replay: {} requests, {} differed from the capture\n", requests,
             differing);
  return kExitOk;
}

}  // namespace quorlan::cli
