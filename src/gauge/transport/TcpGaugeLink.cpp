// SPDX-License-Identifier: Apache-2.0
#include "gauge/transport/TcpGaugeLink.h"

#include <array>

#include "gauge/FrameFinder.h"
#include "gauge/Port.h"
#include "gauge/Protocol.h"

namespace quorlan::gauge {

TcpGaugeLink::TcpGaugeLink(std::string host, int port) : host_(std::move(host)), port_(port) {}

std::string TcpGaugeLink::Describe() const {
  const bool v6 = host_.find(':') != std::string::npos;
  return std::string(kTcpScheme) + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

bool TcpGaugeLink::Fail(std::string problem) {
  problem_ = std::move(problem);
  Close();
  return false;
}

void TcpGaugeLink::Close() {
  asio::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
}

bool TcpGaugeLink::RunFor(Clock::duration limit) {
  io_.restart();
  io_.run_for(limit);
  if (io_.stopped()) return true;
  // Still waiting: cancel, and let the handlers see it.
  asio::error_code ignored;
  socket_.cancel(ignored);
  io_.restart();
  io_.run();
  return false;
}

bool TcpGaugeLink::Open(const LinkTimeouts& timeouts) {
  Close();
  inStep_ = true;
  const auto started = Clock::now();
  asio::ip::tcp::resolver resolver(io_);
  asio::error_code error;
  asio::ip::tcp::resolver::results_type endpoints;
  bool resolved = false;
  resolver.async_resolve(host_, std::to_string(port_),
                         [&](const asio::error_code& result, auto found) {
                           error = result;
                           endpoints = found;
                           resolved = true;
                         });
  io_.restart();
  io_.run_for(timeouts.connect);
  if (!resolved) {
    resolver.cancel();
    io_.restart();
    io_.run();
    return Fail("cannot resolve " + host_ + " in time");
  }
  if (error) return Fail("cannot resolve " + host_ + ": " + error.message());
  bool connected = false;
  asio::async_connect(socket_, endpoints, [&](const asio::error_code& result, const auto&) {
    error = result;
    connected = true;
  });
  const auto left = timeouts.connect - (Clock::now() - started);
  if (!RunFor(std::max<Clock::duration>(left, Clock::duration::zero())) || !connected) {
    return Fail("no connection to " + Describe() + " in time");
  }
  if (error) return Fail("cannot connect to " + Describe() + ": " + error.message());
  socket_.set_option(asio::ip::tcp::no_delay(true), error);
  problem_.clear();
  return true;
}

std::optional<std::string> TcpGaugeLink::Read(Clock::duration firstWait, Clock::duration gap,
                                              Clock::duration whole, bool keep) {
  std::string heard;
  std::array<char, 4096> chunk{};
  const auto giveUp = Clock::now() + whole;
  auto silenceEnds = Clock::now() + firstWait;
  while (Clock::now() < giveUp) {
    asio::error_code error;
    std::size_t count = 0;
    bool done = false;
    socket_.async_read_some(asio::buffer(chunk),
                            [&](const asio::error_code& result, std::size_t n) {
                              error = result;
                              count = n;
                              done = true;
                            });
    RunFor(std::min(silenceEnds, giveUp) - Clock::now());
    if (done && !error) {
      heard.append(chunk.data(), count);
      if (keep && heard.find(kEtx) != std::string::npos) return heard;
      if (heard.size() > kLongestFrame) {
        if (keep) return heard;
        heard.clear();
      }
      silenceEnds = Clock::now() + gap;
      continue;
    }
    if (done && error != asio::error::operation_aborted) {
      Fail(error == asio::error::eof ? "the gauge closed the connection" : error.message());
      return std::nullopt;
    }
    if (Clock::now() >= silenceEnds) return heard;  // the line fell silent
  }
  // A reply still coming at the deadline is cut; a drain that never ends
  // means a line that babbles.
  if (keep) return heard;
  Fail("the gauge does not fall silent");
  return std::nullopt;
}

std::optional<std::string> TcpGaugeLink::Transfer(std::string_view command,
                                                  const LinkTimeouts& timeouts) {
  if (!IsOpen()) return std::nullopt;
  if (!inStep_) {
    // Whatever comes until the line falls silent answers an earlier command.
    if (!Read(timeouts.settle, timeouts.settle, timeouts.whole, false)) return std::nullopt;
  }
  inStep_ = false;
  asio::error_code error;
  bool written = false;
  asio::async_write(socket_, asio::buffer(command.data(), command.size()),
                    [&](const asio::error_code& result, std::size_t) {
                      error = result;
                      written = true;
                    });
  if (!RunFor(timeouts.reply) || !written) {
    Fail("the command was not taken in time");
    return std::nullopt;
  }
  if (error) {
    Fail(error.message());
    return std::nullopt;
  }
  auto heard = Read(timeouts.reply, timeouts.interByte, timeouts.whole, true);
  if (heard && !heard->empty() && heard->back() == kEtx) inStep_ = true;
  return heard;
}

}  // namespace quorlan::gauge
