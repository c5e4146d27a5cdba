// SPDX-License-Identifier: Apache-2.0
#pragma once
// Cuts what a listener hears on a line into exchanges: a request found by its
// shape (an address, a command it knows, its data, every byte followed by its
// complement), then the reply of the length that request calls for, or less
// when the line falls silent first. Bytes that fit no request are noise; a
// silence forgets a half frame, so the cut finds its step again after noise.
//
// On one port (a two-wire line) both directions arrive mixed and only the
// shapes and the silences tell them apart; on two ports (a tap cable) each
// byte comes with the side that sent it.

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "TapShapes.h"

namespace quorlan::cli::tap {

// Microseconds since the epoch, as the reader took them.
using Micros = std::int64_t;

enum class Side : std::uint8_t {
  Unknown,    // one port: the shared wire
  Host,       // requests' side of a tap cable
  Dispenser,  // replies' side
};

struct DecoderOptions {
  // Silence that ends a reply, or a half frame.
  Micros gap = 50'000;
  // Longest wait for a reply's first byte: the host gives up and moves on
  // well after it.
  Micros replyWait = 400'000;
};

enum class Verdict : std::uint8_t {
  Valid,  // the length asked for, every complement good
  NoReply,
  Short,  // fewer bytes than asked for, those there good
  BrokenComplement,
};

struct Exchange {
  Micros requestTime = 0;  // when its first byte was read
  int dispenser = 0;
  bool second = false;
  const RequestKind* kind = nullptr;
  Bytes request;         // line bytes
  Micros replyTime = 0;  // when its first byte was read; 0 without one
  Bytes reply;
  Verdict verdict = Verdict::NoReply;
  std::size_t brokenPair = 0;  // BrokenComplement: the first bad pair
  // Request info bytes and reply info bytes.
  Bytes RequestInfo() const { return InfoBytes(request); }
  Bytes ReplyInfo() const { return InfoBytes(reply); }
  int ExpectedReply() const { return kind->shape.ReplyLength(); }
};

// Bytes that belong to no exchange.
struct Noise {
  Micros time = 0;
  Side side = Side::Unknown;
  Bytes bytes;
};

using Event = std::variant<Exchange, Noise>;

class Decoder {
 public:
  explicit Decoder(DecoderOptions options = {}) : options_(options) {}

  // Bytes read at `time` from `side`.
  void Feed(Side side, Micros time, std::span<const std::uint8_t> bytes);
  // Nothing more was read up to `time`: closes what the silence ends.
  void Idle(Micros time);
  // Closes everything still open (the end of a capture).
  void Finish();
  // What was decoded since the last call, in line order.
  std::vector<Event> Take();
  // A request went out and its reply is not over: on two ports, what the
  // dispenser's side holds is read before the host's.
  bool AwaitingReply() const { return open_.has_value(); }
  // The request awaiting its reply, if any.
  const Exchange* Awaiting() const { return open_ ? &*open_ : nullptr; }

 private:
  void FeedByte(Side side, Micros time, std::uint8_t byte);
  void TakeRequestByte(Micros time, std::uint8_t byte);
  bool HeadValid() const;
  std::optional<std::size_t> PendingFrameLength() const;
  void DropPending(std::size_t count);
  void FlushNoise();
  void CloseExchange();

  DecoderOptions options_;
  std::vector<Event> events_;
  Micros lastByte_ = 0;
  // The request frame being read, and when its first byte came.
  Bytes pending_;
  Micros pendingTime_ = 0;
  Side requestSide_ = Side::Unknown;
  // Noise gathered since the last frame.
  Noise noise_;
  // The exchange awaiting its reply.
  std::optional<Exchange> open_;
};

}  // namespace quorlan::cli::tap
