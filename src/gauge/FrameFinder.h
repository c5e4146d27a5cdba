// SPDX-License-Identifier: Apache-2.0
#pragma once
// Finds reply frames in what the line brings: from an SOH through the next
// ETX. Bytes before an SOH are noise; an SOH inside an open frame means the
// earlier one was cut, and it is dropped: a late or cut reply never merges
// with the one after it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorlan::gauge {

// Longer than any report of 99 tanks; a frame past it is dropped as noise.
inline constexpr std::size_t kLongestFrame = 65536;

class FrameFinder {
 public:
  // Takes bytes; Next() then hands out the whole frames among them.
  void Feed(std::string_view bytes);
  // The oldest whole frame (SOH through ETX), if one is complete.
  std::optional<std::string> Next();
  // An SOH has come and its ETX not yet.
  bool Open() const { return open_; }
  // Bytes that belonged to no whole frame so far (noise, cut frames).
  std::size_t Dropped() const { return dropped_; }
  void Reset();

 private:
  std::string pending_;  // the open frame
  std::string ready_;    // whole frames, back to back
  bool open_ = false;
  std::size_t dropped_ = 0;
};

}  // namespace quorlan::gauge
