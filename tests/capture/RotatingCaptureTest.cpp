// SPDX-License-Identifier: Apache-2.0
// Rotation by size: every file of the row opens and holds whole records,
// the newest last, none split or lost but those beyond the files kept.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "capture/RotatingCapture.h"

namespace quorlan::pcap {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kFileHeader = 24;

// A record of `length` bytes, numbered by its first byte.
Record Numbered(int number, std::size_t length) {
  Record record{1'796'669'264'000'000 + number, number % 2 == 0, {}};
  record.bytes.assign(length, 0xA5);
  if (length > 0) record.bytes[0] = std::uint8_t(number);
  return record;
}

struct RotationCase {
  const char* name;
  Rotation rotation;
  std::vector<std::size_t> lengths;  // of the records written, in order
  bool earlierRun;                   // a capture of an earlier run is there
  // Numbers of the records each file holds: the current file first, then .1, .2 ...
  std::vector<std::vector<int>> files;
};

class Rotating : public ::testing::TestWithParam<RotationCase> {};

TEST_P(Rotating, KeepsWholeRecordsInEveryFile) {
  const fs::path folder = fs::temp_directory_path() /
                          ("quorlan-rotation-" + std::to_string(getpid()) + GetParam().name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string path = (folder / "line.pcap").string();
  if (GetParam().earlierRun) Writer(path).Write(Numbered(99, 4));
  {
    RotatingCapture capture(path, GetParam().rotation);
    for (std::size_t i = 0; i < GetParam().lengths.size(); ++i) {
      capture.Write(Numbered(int(i), GetParam().lengths[i]));
    }
  }
  const auto& expected = GetParam().files;
  for (std::size_t file = 0; file < expected.size(); ++file) {
    const std::string name = file == 0 ? path : path + "." + std::to_string(file);
    ASSERT_TRUE(fs::exists(name)) << name;
    EXPECT_LE(fs::file_size(name),
              std::max<std::uint64_t>(GetParam().rotation.maxBytes, kFileHeader + 16 + 12 + 64))
        << name;
    std::vector<int> numbers;
    for (const Record& record : Read(name)) {
      ASSERT_FALSE(record.bytes.empty()) << name;
      const int number = record.bytes[0];
      numbers.push_back(number);
      const std::size_t length = number == 99 ? 4 : GetParam().lengths.at(std::size_t(number));
      EXPECT_EQ(record.bytes, Numbered(number, length).bytes) << name;
      EXPECT_EQ(record.fromHost, number % 2 == 0) << name;
    }
    EXPECT_EQ(numbers, expected[file]) << name;
  }
  EXPECT_FALSE(fs::exists(path + "." + std::to_string(expected.size())));
  fs::remove_all(folder);
}

// A record of 4 bytes takes 32 in the file: 16 of pcap, 12 of serial header.
INSTANTIATE_TEST_SUITE_P(
    Cases, Rotating,
    ::testing::Values(
        RotationCase{"UnderTheSize", {1024, 3}, {4, 4, 4}, false, {{0, 1, 2}}},
        RotationCase{
            "ExactlyFullThenANewFile", {kFileHeader + 2 * 32, 3}, {4, 4, 4}, false, {{2}, {0, 1}}},
        RotationCase{"ARecordLargerThanTheSizeGetsAFileOfItsOwn",
                     {40, 3},
                     {4, 64, 4},
                     false,
                     {{2}, {1}, {0}}},
        RotationCase{
            "TheOldestDropped", {kFileHeader + 32, 2}, {4, 4, 4, 4, 4}, false, {{4}, {3}, {2}}},
        RotationCase{"NoneKept", {kFileHeader + 32, 0}, {4, 4, 4}, false, {{2}}},
        RotationCase{"AnEarlierRunMovesAside", {1024, 3}, {4, 4}, true, {{0, 1}, {99}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A file the disk refuses: said with its name, and the next record tries a
// fresh file.
TEST(RotatingCapture, AFailedWriteNamesTheFileAndTheNextStartsAfresh) {
  const fs::path folder =
      fs::temp_directory_path() / ("quorlan-rotation-fail-" + std::to_string(getpid()));
  fs::remove_all(folder);
  const std::string path = (folder / "line.pcap").string();
  RotatingCapture capture(path, {});
  try {
    capture.Write(Numbered(0, 4));
    ADD_FAILURE() << "a capture into no folder was written";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
  }
  fs::create_directories(folder);
  capture.Write(Numbered(1, 4));
  ASSERT_EQ(Read(path).size(), 1u);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorlan::pcap
