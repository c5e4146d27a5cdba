// SPDX-License-Identifier: Apache-2.0
#pragma once
// Captures of serial data in the pcap format with the link type for serial
// lines (LINKTYPE_RTAC_SERIAL): each record carries a header with its time
// and whether the data went out of the host or came in to it, then the bytes.

#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace quorlan::pcap {

inline constexpr std::uint32_t kLinkTypeSerial = 250;
inline constexpr std::uint32_t kMagicMicroseconds = 0xA1B2C3D4;
inline constexpr std::uint16_t kVersionMajor = 2;
inline constexpr std::uint16_t kVersionMinor = 4;
inline constexpr std::uint32_t kSnapLength = 65535;
// The serial header before each record's bytes: seconds and microseconds
// (big-endian), the event, the control lines' state, two bytes of footer.
inline constexpr std::size_t kSerialHeaderLength = 12;
// The events this format names for data.
inline constexpr std::uint8_t kTransmitted = 0x01;  // the host sent it
inline constexpr std::uint8_t kReceived = 0x02;     // the host received it

struct Record {
  std::int64_t micros = 0;  // since the epoch
  bool fromHost = false;
  std::vector<std::uint8_t> bytes;
};

class Writer {
 public:
  // Creates (truncates) the file and writes its header; std::runtime_error
  // naming the file when it cannot.
  explicit Writer(const std::string& path);
  // Writes the record whole and flushes it; a write that fails is cut off
  // again, so the file keeps only whole records, and std::runtime_error
  // names the file.
  void Write(const Record& record);
  // Bytes in the file so far.
  std::uint64_t Size() const { return size_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::ofstream file_;
  std::uint64_t size_ = 0;
};

// The bytes a record takes in the file.
std::uint64_t RecordSize(const Record& record);

// Every data record of a capture, in order. std::runtime_error naming the
// file and what is wrong for anything else than a serial capture.
std::vector<Record> Read(const std::string& path);

}  // namespace quorlan::pcap
