#pragma once
// Cuts a byte stream into request frames, as a dispenser listening on the
// line does: it knows from the address and command how many data pairs
// follow, and drops bytes until the stream makes sense again (a byte whose
// complement does not follow, an address nobody owns, an unknown command).

#include <cstdint>
#include <optional>

#include "Requests.h"

namespace quorlan::sim {

class RequestReader {
 public:
  // Feeds one byte; returns a whole request frame (line bytes) when complete.
  std::optional<Bytes> Feed(std::uint8_t byte);
  // Forgets a partial frame (the line fell silent in the middle of one).
  void Reset();
  bool Partial() const { return !pending_.empty(); }
  std::uint64_t Dropped() const { return dropped_; }

 private:
  // Length in line bytes of the frame in pending_, once its head is known.
  std::optional<int> FrameLength() const;
  // pending_ could still grow into a frame.
  bool HeadValid() const;

  Bytes pending_;
  std::uint64_t dropped_ = 0;
};

}  // namespace quorlan::sim
