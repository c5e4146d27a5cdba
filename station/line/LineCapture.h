// SPDX-License-Identifier: Apache-2.0
#pragma once
// A line's capture for Wireshark: every byte the line sends and receives, in
// rotated pcap files. The line only hands its bytes over; a thread of the
// capture's own writes them, so a slow or failing disk never holds up an
// exchange. A write that fails is said once (and its return once), the
// record is dropped and the line goes on.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "capture/RotatingCapture.h"

namespace quorlan::station {

class LineCapture {
 public:
  using Say = std::function<void(const std::string&)>;

  // `say` takes the sentences for the service's log.
  LineCapture(int channel, std::string path, pcap::Rotation rotation, Say say);
  // Writes what is still queued, then ends the thread.
  ~LineCapture();
  LineCapture(const LineCapture&) = delete;
  LineCapture& operator=(const LineCapture&) = delete;

  // What the line heard or said (a serial::LineRecorder); never blocks on the disk.
  void Record(bool sent, std::span<const std::uint8_t> bytes,
              std::chrono::system_clock::time_point at);

 private:
  void Write();
  void Tell(bool failing, const std::string& why);

  const int channel_;
  pcap::RotatingCapture file_;
  Say say_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<pcap::Record> queue_;
  bool stopping_ = false;
  bool failing_ = false;   // the last write failed
  bool dropping_ = false;  // the queue was full since the writer last looked
  std::thread writer_;
};

}  // namespace quorlan::station
