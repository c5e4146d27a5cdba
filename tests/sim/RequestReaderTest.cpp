// Cutting the byte stream of a line into request frames.

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/RequestReader.h"

namespace quorlan::sim::testing {
namespace {

std::vector<Bytes> FramesOf(const Bytes& stream, RequestReader& reader) {
  std::vector<Bytes> frames;
  for (auto byte : stream) {
    if (auto frame = reader.Feed(byte)) frames.push_back(*frame);
  }
  return frames;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

const Bytes kStatus = RequestFrame(1, 0xA1);
const Bytes kPrices = RequestFrame(1 + kSecondAddressOffset, 0xA3, Bytes(16, 0x13));
const Bytes kPreset = RequestFrame(2, 0xA5, {1, 0x0A, 0x0D, 0x11, 0x13, 0, 0, 0, 0});
const Bytes kTotals = RequestFrame(32, 0xA9, {0x40});

struct StreamCase {
  const char* name;
  Bytes stream;
  std::vector<Bytes> frames;
};

const StreamCase kStreams[] = {
    {"BackToBack",
     Join({kStatus, kPrices, kPreset, kTotals}),
     {kStatus, kPrices, kPreset, kTotals}},
    {"LeadingNoise", Join({{0x00, 0x55, 0xFF}, kStatus}), {kStatus}},
    {"ByteWithoutComplement", Join({{0xF0, 0x00}, kTotals}), {kTotals}},
    {"AddressOfNobody", Join({{0x50, 0xAF}, kStatus}), {kStatus}},
    {"UnknownCommand", Join({{0xF0, 0x0F, 0xA7, 0x58}, kStatus}), {kStatus}},
    {"ReleaseAtOwnAddress", Join({{0xF0, 0x0F, 0xA2, 0x5D}, kStatus}), {kStatus}},
    // Without a pause between them, a cut frame takes the next head as data.
    {"TruncatedFrameThenAnother",
     Join({{0xF0, 0x0F, 0xA9, 0x56}, kStatus}),
     {{0xF0, 0x0F, 0xA9, 0x56, 0xF0, 0x0F}}},
    {"BrokenDataPair",
     Join({Bytes(kPreset.begin(), kPreset.begin() + 6), {0x00}, kStatus}),
     {kStatus}},
};

class Streams : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Streams, YieldTheWholeFramesOnly) {
  RequestReader reader;
  EXPECT_EQ(FramesOf(GetParam().stream, reader), GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(RequestReader, Streams, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RequestReader, ResetAfterSilenceDropsAPartialFrame) {
  RequestReader reader;
  // A totals request cut after its command: the status request that follows
  // would be taken for its selector without the reset.
  FramesOf({0xF0, 0x0F, 0xA9, 0x56}, reader);
  EXPECT_TRUE(reader.Partial());
  reader.Reset();
  EXPECT_EQ(FramesOf(kStatus, reader), std::vector<Bytes>{kStatus});
  EXPECT_EQ(reader.Dropped(), 4u);
}

}  // namespace
}  // namespace quorlan::sim::testing
