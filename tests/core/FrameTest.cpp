#include <gtest/gtest.h>

#include "base/Errors.h"
#include "link/Frame.h"
#include "support/FakeDispatcher.h"

namespace quorlan::testing {
namespace {

struct FrameCase {
  int subAddress;
  std::uint8_t command;
  Bytes data;
  Bytes line;
};

class FrameBytes : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameBytes, EveryInfoByteIsFollowedByItsComplement) {
  const auto& c = GetParam();
  const Frame frame = BuildFrame(c.subAddress, c.command, c.data);
  EXPECT_EQ(Bytes(frame.View().begin(), frame.View().end()), c.line);
  EXPECT_EQ(frame.length, 2 * (static_cast<int>(c.data.size()) + 2));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FrameBytes,
    ::testing::Values(FrameCase{1, 0xA3, {}, {0xF0, 0x0F, 0xA3, 0x5C}},
                      FrameCase{209, 0xA1, {}, {0xC0, 0x3F, 0xA1, 0x5E}},
                      FrameCase{16, 0xA1, {}, {0xFF, 0x00, 0xA1, 0x5E}},
                      FrameCase{17, 0xA3, {}, {0x00, 0xFF, 0xA3, 0x5C}},
                      FrameCase{32, 0xA3, {}, {0x0F, 0xF0, 0xA3, 0x5C}},
                      FrameCase{240, 0xA2, {}, {0xDF, 0x20, 0xA2, 0x5D}},
                      FrameCase{0, 0xA3, {}, {0xEF, 0x10, 0xA3, 0x5C}},
                      FrameCase{1, 0xA9, {0x40}, {0xF0, 0x0F, 0xA9, 0x56, 0x40, 0xBF}}));

TEST(FrameLimits, AcceptsTheLargestRequestAndRefusesOneByteMore) {
  EXPECT_EQ(BuildFrame(1, 0xA1, Bytes(125, 0x11)).length, 254);
  EXPECT_THROW(BuildFrame(1, 0xA1, Bytes(126, 0x11)), ERangeError);
}

}  // namespace
}  // namespace quorlan::testing
