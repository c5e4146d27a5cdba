// SPDX-License-Identifier: Apache-2.0
#include "station/line/LineCapture.h"

#include <fmt/format.h>

#include <stdexcept>

namespace quorlan::station {

namespace {

// Records waiting for the disk before new ones are dropped: minutes of a
// busy line's traffic.
constexpr std::size_t kMostQueued = 20000;

}  // namespace

LineCapture::LineCapture(int channel, std::string path, pcap::Rotation rotation, Say say)
    : channel_(channel), file_(std::move(path), rotation), say_(std::move(say)) {
  writer_ = std::thread([this] { Write(); });
}

LineCapture::~LineCapture() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  writer_.join();
}

void LineCapture::Record(bool sent, std::span<const std::uint8_t> bytes,
                         std::chrono::system_clock::time_point at) {
  pcap::Record record{
      std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count(),
      sent,
      {bytes.begin(), bytes.end()}};
  {
    std::lock_guard lock(mutex_);
    // The writer says so: the line's thread never waits on the log either.
    if (queue_.size() >= kMostQueued) {
      dropping_ = true;
      return;
    }
    queue_.push_back(std::move(record));
  }
  wake_.notify_one();
}

void LineCapture::Write() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and all written
    pcap::Record record = std::move(queue_.front());
    queue_.pop_front();
    const bool dropped = dropping_;
    dropping_ = false;
    lock.unlock();
    if (dropped) {
      say_(fmt::format("line {}: capture {}: the disk did not keep up; records were dropped",
                       channel_, file_.Path()));
    }
    try {
      file_.Write(record);
      Tell(false, "");
    } catch (const std::runtime_error& error) {
      Tell(true, error.what());
    }
    lock.lock();
  }
}

void LineCapture::Tell(bool failing, const std::string& why) {
  if (failing == failing_) return;
  failing_ = failing;
  say_(failing ? fmt::format("line {}: capture: {}; the line goes on without it", channel_, why)
               : fmt::format("line {}: capture {} written again", channel_, file_.Path()));
}

}  // namespace quorlan::station
