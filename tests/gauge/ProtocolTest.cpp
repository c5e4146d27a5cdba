// SPDX-License-Identifier: Apache-2.0
// The gauge's field encodings and framing, on the examples the consoles'
// serial interface manuals print.

#include <gtest/gtest.h>

#include <cmath>

#include "gauge/Command.h"
#include "gauge/Fields.h"
#include "gauge/FrameFinder.h"
#include "gauge/Port.h"
#include "gauge/Protocol.h"

namespace quorlan::gauge {
namespace {

// "Serial Interface Manual, TLS2 Monitoring Systems", 577013-767 rev. H,
// 5.0 Command message format (https://manualshive.com/ru/manual/veeder-root/tls2/3812472?page=6):
// a function the console does not know is answered <SOH>9999FF1B<ETX>,
// "FF1B" being the checksum of <SOH>9999. And 6.1 Computer format (?page=7):
// the checksum is the 2's complemented 16-bit sum of every character before
// it; adding the characters to it gives zero.
TEST(GaugeChecksum, HoldsBothWaysOnTheManualsExample) {
  const std::string message = std::string(1, kSoh) + "9999";
  EXPECT_EQ(Checksum(message), 0xFF1B);
  EXPECT_TRUE(ChecksumHolds(message, "FF1B"));
  EXPECT_TRUE(ChecksumHolds(message, "ff1b"));
  // The sum plus the checksum is 0 modulo 65536, whatever the message.
  for (const std::string text : {"", "\x01i20100", "\x01i2050026120803410100&&", "\xff\xff\xff"}) {
    unsigned sum = Checksum(text);
    for (char c : text) sum += static_cast<unsigned char>(c);
    EXPECT_EQ(sum % 65536, 0u) << text;
  }
  const struct {
    std::string_view digits;
    const char* why;
  } wrong[] = {{"FF1C", "one off"},      {"1BFF", "bytes swapped"}, {"FF1", "three digits"},
               {"FF1B0", "five digits"}, {"FG1B", "not hex"},       {"", "none"}};
  for (const auto& [digits, why] : wrong) EXPECT_FALSE(ChecksumHolds(message, digits)) << why;
}

// The same manual, 6.3 ASCII floating point format (?page=8): 8 hex nibbles
// of sign, biased exponent and mantissa, most significant first; by
// convention 00000000 is 0.0.
TEST(GaugeHexFloat, ReadsAndWritesTheConsolesSingles) {
  const struct {
    std::string_view digits;
    float value;
  } cases[] = {{"00000000", 0.0f},  {"42C80000", 100.0f}, {"C2C80000", -100.0f},
               {"3F000000", 0.5f},  {"BFE00000", -1.75f}, {"461C4000", 10000.0f},
               {"41700000", 15.0f}, {"3d800000", 0.0625f}};
  for (const auto& [digits, value] : cases) {
    ASSERT_EQ(ParseHexFloat(digits), value) << digits;
    std::string upper(digits);
    for (auto& c : upper) c = char(std::toupper(c));
    EXPECT_EQ(HexFloat(value), upper);
  }
  EXPECT_TRUE(std::isnan(*ParseHexFloat("7FC00000")));  // parsed; the reply check refuses it
  EXPECT_TRUE(std::isinf(*ParseHexFloat("7F800000")));
  for (std::string_view bad : {"4C8000", "42C800000", "42C8000G", "-2C80000", ""}) {
    EXPECT_FALSE(ParseHexFloat(bad)) << bad;
  }
}

TEST(GaugeTime, ReadsTheReplysClockAndRefusesImpossibleOnes) {
  EXPECT_EQ(ParseGaugeTime("2205011457"), (GaugeTime{2022, 5, 1, 14, 57}));
  EXPECT_EQ(IsoText(*ParseGaugeTime("2612312359")), "2026-12-31T23:59");
  EXPECT_EQ(FormatGaugeTime({2026, 1, 2, 3, 4}), "2601020304");
  for (std::string_view bad : {"2213011457", "2200011457", "2205321457", "2205012457", "2205011460",
                               "220501145", "22O5011457"}) {
    EXPECT_FALSE(ParseGaugeTime(bad)) << bad;
  }
}

TEST(GaugeCommand, CarriesTheCodeOnTheLineButNeverInWhatIsShown) {
  const auto plain = BuildCommand(Function::Inventory, Format::Computer, 0, "");
  EXPECT_EQ(plain.bytes, "\x01i20100");
  const auto secret = BuildCommand(Function::Alarms, Format::Computer, 7, "s3cr#t");
  EXPECT_EQ(secret.bytes, "\x01s3cr#ti20507");
  EXPECT_EQ(secret.shown, "\x01i20507");
  EXPECT_EQ(BuildCommand(Function::Inventory, Format::Display, 12, "").bytes, "\x01I20112");
  EXPECT_THROW(BuildCommand(Function::Inventory, Format::Computer, 100, ""), std::invalid_argument);
  EXPECT_THROW(BuildCommand(Function::Inventory, Format::Computer, 1, "new\nline"),
               std::invalid_argument);
  EXPECT_THROW(BuildCommand(Function::Inventory, Format::Computer, 1, std::string(17, 'x')),
               std::invalid_argument);
}

// Frames are found again by SOH and ETX: noise before them is dropped, and a
// reply cut by a new SOH never merges with the next.
TEST(GaugeFrameFinder, FindsWholeFramesAmongNoiseAndCutOnes) {
  const struct {
    std::vector<std::string_view> chunks;
    std::vector<std::string> frames;
    std::size_t dropped;
  } cases[] = {
      {{"\x01i20100abc\x03"}, {"\x01i20100abc\x03"}, 0},
      {{std::string_view("\xff\x00zz", 4),
        "\x01"
        "A\x03"},
       {"\x01"
        "A\x03"},
       4},
      {{"\x01"
        "cut",
        "\x01"
        "B",
        "\x03"},
       {"\x01"
        "B\x03"},
       4},
      {{"\x01"
        "A\x03\x01"
        "B\x03"},
       {"\x01"
        "A\x03",
        "\x01"
        "B\x03"},
       0},
      {{"\x01"
        "A",
        "\x03tail"},
       {"\x01"
        "A\x03"},
       4},
  };
  for (const auto& c : cases) {
    FrameFinder finder;
    for (auto chunk : c.chunks) finder.Feed(chunk);
    std::vector<std::string> frames;
    while (auto frame = finder.Next()) frames.push_back(*frame);
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(finder.Dropped(), c.dropped);
  }
  FrameFinder endless;
  endless.Feed("\x01");
  endless.Feed(std::string(kLongestFrame + 1, 'x'));
  EXPECT_FALSE(endless.Open());
  EXPECT_FALSE(endless.Next());
}

TEST(GaugePort, NamesADeviceABridgeOrTheSimulator) {
  EXPECT_EQ(ParseGaugePort("/dev/ttyS1").path, "/dev/ttyS1");
  EXPECT_EQ(ParseGaugePort("sim").kind, GaugePort::Kind::Sim);
  const auto bridge = ParseGaugePort("tcp://10.0.0.7:10001");
  EXPECT_EQ(bridge.kind, GaugePort::Kind::Tcp);
  EXPECT_EQ(bridge.host, "10.0.0.7");
  EXPECT_EQ(bridge.port, 10001);
  EXPECT_EQ(ParseGaugePort("tcp://[::1]:10001").host, "::1");
  for (std::string_view bad : {"", "tcp://", "tcp://host", "tcp://:10001", "tcp://host:0",
                               "tcp://host:65536", "tcp://host:10x01", "tcp://host:123456"}) {
    EXPECT_THROW(ParseGaugePort(bad), std::invalid_argument) << bad;
  }
}

}  // namespace
}  // namespace quorlan::gauge
