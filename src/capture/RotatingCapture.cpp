// SPDX-License-Identifier: Apache-2.0
#include "capture/RotatingCapture.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace quorlan::pcap {

namespace {

std::string Numbered(const std::string& path, int number) {
  return path + "." + std::to_string(number);
}

}  // namespace

RotatingCapture::RotatingCapture(std::string path, Rotation rotation)
    : path_(std::move(path)), rotation_(rotation) {}

void RotatingCapture::Write(const Record& record) {
  if (file_ && !empty_ && file_->Size() + RecordSize(record) > rotation_.maxBytes) file_.reset();
  if (!file_) Start();
  try {
    file_->Write(record);
  } catch (const std::runtime_error&) {
    file_.reset();
    throw;
  }
  empty_ = false;
}

void RotatingCapture::Start() {
  // Only a file is moved: a device or a pipe named as the capture is written as it is.
  std::error_code error;
  if (std::filesystem::is_regular_file(path_, error)) MoveAlong();
  file_.emplace(path_);
  empty_ = true;
}

void RotatingCapture::MoveAlong() {
  namespace fs = std::filesystem;
  std::error_code ignored;  // a number missing from the row is no fault
  fs::remove(rotation_.keep > 0 ? Numbered(path_, rotation_.keep) : path_, ignored);
  for (int number = rotation_.keep - 1; number >= 1; --number) {
    fs::rename(Numbered(path_, number), Numbered(path_, number + 1), ignored);
  }
  if (rotation_.keep > 0) fs::rename(path_, Numbered(path_, 1), ignored);
}

}  // namespace quorlan::pcap
