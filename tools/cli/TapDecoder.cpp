// SPDX-License-Identifier: Apache-2.0
#include "TapDecoder.h"

namespace quorlan::cli::tap {

void Decoder::Feed(Side side, Micros time, std::span<const std::uint8_t> bytes) {
  for (auto byte : bytes) FeedByte(side, time, byte);
}

void Decoder::Idle(Micros time) {
  if (open_) {
    const Micros limit = open_->reply.empty() ? options_.replyWait : options_.gap;
    if (time - lastByte_ > limit) CloseExchange();
  }
  if (!pending_.empty() && time - lastByte_ > options_.gap) DropPending(pending_.size());
  if (!open_ && pending_.empty() && time - lastByte_ > options_.gap) FlushNoise();
}

void Decoder::Finish() {
  if (open_) CloseExchange();
  DropPending(pending_.size());
  FlushNoise();
}

std::vector<Event> Decoder::Take() {
  std::vector<Event> taken;
  taken.swap(events_);
  return taken;
}

void Decoder::FeedByte(Side side, Micros time, std::uint8_t byte) {
  // A silence before this byte ends whatever it interrupted.
  Idle(time);
  lastByte_ = time;
  if (side == Side::Dispenser || (side == Side::Unknown && open_)) {
    if (!open_) {
      if (noise_.bytes.empty()) noise_ = Noise{time, side, {}};
      noise_.bytes.push_back(byte);
      return;
    }
    if (open_->reply.empty()) open_->replyTime = time;
    open_->reply.push_back(byte);
    if (open_->reply.size() == std::size_t(open_->ExpectedReply())) CloseExchange();
    return;
  }
  // A host's byte starts the next request: the last one got all it will get.
  if (open_) CloseExchange();
  requestSide_ = side;
  TakeRequestByte(time, byte);
}

void Decoder::TakeRequestByte(Micros time, std::uint8_t byte) {
  if (pending_.empty()) pendingTime_ = time;
  pending_.push_back(byte);
  // Until pending_ could grow into a frame again, its first byte is noise.
  while (!pending_.empty() && !HeadValid()) DropPending(1);
  const auto length = PendingFrameLength();
  if (!length || pending_.size() != *length) return;
  FlushNoise();
  const auto info = InfoBytes(pending_);
  const auto addressee = *DecodeAddress(info[0]);
  Exchange exchange;
  exchange.requestTime = pendingTime_;
  exchange.dispenser = addressee.dispenser;
  exchange.second = addressee.second;
  exchange.kind = FindRequest(addressee.second, info[1]);
  exchange.request.swap(pending_);
  open_ = std::move(exchange);
}

std::optional<std::size_t> Decoder::PendingFrameLength() const {
  if (pending_.size() < 3) return std::nullopt;
  const auto addressee = DecodeAddress(pending_[0]);
  if (!addressee) return std::nullopt;
  const auto* kind = FindRequest(addressee->second, pending_[2]);
  if (kind == nullptr) return std::nullopt;
  return std::size_t(FrameLength(*kind));
}

bool Decoder::HeadValid() const {
  if (BrokenPair(pending_)) return false;
  if (!DecodeAddress(pending_[0])) return false;
  if (pending_.size() < 3) return true;
  const auto length = PendingFrameLength();
  return length && pending_.size() <= *length;
}

void Decoder::DropPending(std::size_t count) {
  if (count == 0) return;
  if (noise_.bytes.empty()) noise_ = Noise{pendingTime_, requestSide_, {}};
  noise_.bytes.insert(noise_.bytes.end(), pending_.begin(), pending_.begin() + long(count));
  pending_.erase(pending_.begin(), pending_.begin() + long(count));
}

void Decoder::FlushNoise() {
  if (noise_.bytes.empty()) return;
  events_.emplace_back(std::move(noise_));
  noise_ = Noise{};
}

void Decoder::CloseExchange() {
  auto& exchange = *open_;
  const auto broken = BrokenPair(exchange.reply);
  if (exchange.reply.empty()) {
    exchange.verdict = Verdict::NoReply;
  } else if (broken) {
    exchange.verdict = Verdict::BrokenComplement;
    exchange.brokenPair = *broken;
  } else if (exchange.reply.size() < std::size_t(exchange.ExpectedReply())) {
    exchange.verdict = Verdict::Short;
  } else {
    exchange.verdict = Verdict::Valid;
  }
  events_.emplace_back(std::move(exchange));
  open_.reset();
}

}  // namespace quorlan::cli::tap
