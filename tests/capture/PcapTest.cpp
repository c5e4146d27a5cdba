// SPDX-License-Identifier: Apache-2.0
// Captures written and read back: times to the microsecond, the direction of
// each piece and its bytes, in order.

#include <gtest/gtest.h>

#include <filesystem>

#include "capture/Pcap.h"

namespace quorlan::pcap {
namespace {

TEST(Pcap, ReadsBackWhatWasWritten) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorlan-pcap-" + std::to_string(::getpid()) + ".pcap");
  const std::vector<Record> written{
      {1'796'669'264'100'000, true, {0xF0, 0x0F, 0xA1, 0x5E}},
      {1'796'669'264'999'999, false, {0xA2, 0x5D}},
      {1'796'669'265'000'001, false, {}},
  };
  {
    Writer writer(path.string());
    for (const auto& record : written) writer.Write(record);
    EXPECT_EQ(writer.Size(), std::filesystem::file_size(path));
  }
  const auto read = Read(path.string());
  std::filesystem::remove(path);
  ASSERT_EQ(read.size(), written.size());
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].micros, written[i].micros);
    EXPECT_EQ(read[i].fromHost, written[i].fromHost);
    EXPECT_EQ(read[i].bytes, written[i].bytes);
  }
}

TEST(Pcap, AFileThatCannotBeWrittenIsNamed) {
  EXPECT_THROW(
      {
        try {
          Writer writer("/nonexistent/folder/line.pcap");
        } catch (const std::runtime_error& error) {
          EXPECT_NE(std::string(error.what()).find("/nonexistent/folder/line.pcap"),
                    std::string::npos);
          throw;
        }
      },
      std::runtime_error);
}

}  // namespace
}  // namespace quorlan::pcap
