#include "RequestReader.h"

namespace quorlan::sim {

std::optional<Bytes> RequestReader::Feed(std::uint8_t byte) {
  pending_.push_back(byte);
  // pending_ was a valid frame head before this byte: drop from the front
  // until it is one again.
  while (!pending_.empty() && !HeadValid()) {
    pending_.erase(pending_.begin());
    ++dropped_;
  }
  const auto length = FrameLength();
  if (!length || pending_.size() != std::size_t(*length)) return std::nullopt;
  Bytes frame;
  frame.swap(pending_);
  return frame;
}

void RequestReader::Reset() {
  dropped_ += pending_.size();
  pending_.clear();
}

std::optional<int> RequestReader::FrameLength() const {
  if (pending_.size() < 3) return std::nullopt;
  const auto target = DecodeAddress(pending_[0]);
  if (!target) return std::nullopt;
  const auto request = ClassifyRequest(target->second, pending_[2]);
  if (!request) return std::nullopt;
  return 2 * (2 + DataBytes(*request));
}

bool RequestReader::HeadValid() const {
  for (std::size_t i = 1; i < pending_.size(); i += 2) {
    if ((pending_[i - 1] ^ 0xFF) != pending_[i]) return false;
  }
  if (!DecodeAddress(pending_[0])) return false;
  if (pending_.size() < 3) return true;
  const auto length = FrameLength();
  return length && pending_.size() <= std::size_t(*length);
}

}  // namespace quorlan::sim
