// SPDX-License-Identifier: Apache-2.0
#pragma once
// A capture kept for good: one pcap file that, once it would pass its size,
// moves aside (PATH.1, PATH.2 ... the oldest dropped) for a fresh one.
// Records go whole into one file, never split between two.

#include <cstdint>
#include <optional>
#include <string>

#include "capture/Pcap.h"

namespace quorlan::pcap {

struct Rotation {
  std::uint64_t maxBytes = 10 * 1024 * 1024;  // a file's size before the next starts
  int keep = 5;                               // earlier files kept beside the current one
};

class RotatingCapture {
 public:
  // Opens nothing yet: the first record starts the file.
  RotatingCapture(std::string path, Rotation rotation);

  // Writes the record to the current file, first moving the files along
  // when it would pass the size (a record larger than the size gets a file
  // of its own). std::runtime_error naming the file when it cannot; the
  // next record then starts a fresh file.
  void Write(const Record& record);

  const std::string& Path() const { return path_; }

 private:
  // A file already there (from an earlier run, or one a failed write left)
  // is moved along, never overwritten.
  void Start();
  void MoveAlong();

  std::string path_;
  Rotation rotation_;
  std::optional<Writer> file_;
  bool empty_ = true;  // no record in the current file yet
};

}  // namespace quorlan::pcap
