// SPDX-License-Identifier: Apache-2.0
#include "station/base/RepeatFilter.h"

#include <fmt/format.h>

namespace quorlan::station {

namespace {

std::string Summary(const std::string& line, std::uint64_t repeats) {
  return fmt::format("{} (repeated {} times)", line, repeats);
}

}  // namespace

std::vector<std::string> RepeatFilter::Take(const std::string& line, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  if (line == last_ && !last_.empty()) {
    ++repeats_;
    if (now - written_ >= interval_) {
      out.push_back(Summary(line, repeats_));
      repeats_ = 0;
      written_ = now;
    }
    return out;
  }
  if (repeats_ > 0) out.push_back(Summary(last_, repeats_));
  out.push_back(line);
  last_ = line;
  repeats_ = 0;
  written_ = now;
  return out;
}

}  // namespace quorlan::station
