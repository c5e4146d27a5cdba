// SPDX-License-Identifier: Apache-2.0
#include "capture/Pcap.h"

#include <fmt/format.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>

namespace quorlan::pcap {

namespace {

// The file's own fields are in the writer's byte order, little-endian here;
// the serial header is big-endian.
void PutLittle(std::vector<char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
void PutBig(std::vector<char>& out, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetWord(const unsigned char* at, bool littleEndian) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | at[littleEndian ? 3 - i : i];
  return value;
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw std::runtime_error(fmt::format("{}: {}", path, why));
}

constexpr std::size_t kFileHeaderLength = 24;
constexpr std::size_t kRecordHeaderLength = 16;

}  // namespace

Writer::Writer(const std::string& path) : path_(path), file_(path, std::ios::binary) {
  if (!file_) Refuse(path, fmt::format("cannot write: {}", std::strerror(errno)));
  std::vector<char> header;
  PutLittle(header, kMagicMicroseconds, 4);
  PutLittle(header, kVersionMajor, 2);
  PutLittle(header, kVersionMinor, 2);
  PutLittle(header, 0, 4);  // time zone: UTC
  PutLittle(header, 0, 4);  // accuracy
  PutLittle(header, kSnapLength, 4);
  PutLittle(header, kLinkTypeSerial, 4);
  file_.write(header.data(), std::streamsize(header.size()));
  file_.flush();
  size_ = header.size();
}

void Writer::Write(const Record& record) {
  const auto seconds = static_cast<std::uint32_t>(record.micros / 1'000'000);
  const auto micros = static_cast<std::uint32_t>(record.micros % 1'000'000);
  const auto length = static_cast<std::uint32_t>(kSerialHeaderLength + record.bytes.size());
  std::vector<char> out;
  PutLittle(out, seconds, 4);
  PutLittle(out, micros, 4);
  PutLittle(out, length, 4);
  PutLittle(out, length, 4);
  PutBig(out, seconds);
  PutBig(out, micros);
  out.push_back(static_cast<char>(record.fromHost ? kTransmitted : kReceived));
  out.push_back(0);  // control lines: not seen by a listener
  out.push_back(0);
  out.push_back(0);
  out.insert(out.end(), record.bytes.begin(), record.bytes.end());
  file_.write(out.data(), std::streamsize(out.size()));
  // Whole records reach the file at once, so a capture cut short by a
  // signal still opens.
  file_.flush();
  if (!file_) {
    // A disk that filled mid-record leaves its head behind: cut it off.
    std::error_code ignored;
    std::filesystem::resize_file(path_, size_, ignored);
    Refuse(path_, "write failed");
  }
  size_ += out.size();
}

std::uint64_t RecordSize(const Record& record) {
  return kRecordHeaderLength + kSerialHeaderLength + record.bytes.size();
}

std::vector<Record> Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) Refuse(path, fmt::format("cannot read: {}", std::strerror(errno)));
  const std::vector<unsigned char> data{std::istreambuf_iterator<char>(file), {}};
  if (data.size() < kFileHeaderLength) Refuse(path, "not a pcap file");
  // The file's fields are in its writer's byte order, which the magic shows.
  bool little = true;
  const std::uint32_t magic = GetWord(data.data(), little);
  if (magic == 0xD4C3B2A1) {
    little = false;
  } else if (magic != kMagicMicroseconds) {
    Refuse(path, "not a pcap file with microsecond times");
  }
  if (GetWord(data.data() + 20, little) != kLinkTypeSerial) {
    Refuse(path, "not a capture of a serial line (link type 250)");
  }
  std::vector<Record> records;
  for (std::size_t at = kFileHeaderLength; at < data.size();) {
    if (data.size() - at < kRecordHeaderLength) Refuse(path, "cut short in a record header");
    const std::uint32_t length = GetWord(data.data() + at + 8, little);
    at += kRecordHeaderLength;
    if (data.size() - at < length) Refuse(path, "cut short in a record");
    if (length < kSerialHeaderLength) Refuse(path, "a record without its serial header");
    const unsigned char* header = data.data() + at;
    const std::uint8_t event = header[8];
    if (event == kTransmitted || event == kReceived) {
      Record record;
      record.micros = std::int64_t(GetWord(header, false)) * 1'000'000 + GetWord(header + 4, false);
      record.fromHost = event == kTransmitted;
      record.bytes.assign(header + kSerialHeaderLength, header + length);
      records.push_back(std::move(record));
    }
    at += length;
  }
  return records;
}

}  // namespace quorlan::pcap
