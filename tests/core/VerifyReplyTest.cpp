#include <gtest/gtest.h>

#include "support/DriverFixture.h"

namespace quorlan::testing {
namespace {

class VerifyReplyTest : public DriverFixture {
 protected:
  bool Verify(const Bytes& reply, int received, int expected, int highIndex = 254) {
    buffer.fill(0);
    std::copy(reply.begin(), reply.end(), buffer.begin());
    return S().link.VerifyReply(7, buffer.data(), highIndex, received, expected);
  }
  ReplyBuffer buffer{};
};

struct LengthCase {
  int received;
  int expected;
  bool accepted;
};

class ReplyLengths : public VerifyReplyTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(ReplyLengths, AreOnePairTheExpectedCountOrOnePairShort) {
  const auto& c = GetParam();
  const bool accepted =
      Verify(Pairs(Bytes(std::max(c.received, 0) / 2, 0x12)), c.received, c.expected);
  EXPECT_EQ(accepted, c.accepted);
  EXPECT_EQ(port.states[7], c.accepted ? kLinkGood : kLinkBad);
  EXPECT_EQ(port.errors[7], c.accepted ? 0u : kErrorBadLength);
  // The verdict goes out state first, then error.
  ASSERT_EQ(port.stateCalls.size(), 1u);
  ASSERT_EQ(port.errorCalls.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Counts, ReplyLengths,
                         ::testing::Values(LengthCase{18, 18, true}, LengthCase{16, 18, true},
                                           LengthCase{2, 18, true}, LengthCase{17, 18, false},
                                           LengthCase{14, 18, false}, LengthCase{20, 18, false},
                                           LengthCase{22, 22, true}, LengthCase{20, 22, true},
                                           LengthCase{4, 4, true}, LengthCase{2, 4, true},
                                           LengthCase{2, 2, true}, LengthCase{4, 2, false},
                                           // An empty reply is never a good one.
                                           LengthCase{0, 2, false}, LengthCase{-2, 4, false}));

TEST_F(VerifyReplyTest, ChecksEveryPairAndStopsAtTheFirstBadOne) {
  Bytes reply = Pairs({0x01, 0x02, 0x12, 0x04});
  EXPECT_TRUE(Verify(reply, 8, 8));
  reply[5] = 0xEE;  // third pair 0x12 0xEE
  EXPECT_FALSE(Verify(reply, 8, 8));
  EXPECT_EQ(port.errors[7], kErrorBadComplement);
  EXPECT_EQ(port.states[7], kLinkBad);
}

TEST_F(VerifyReplyTest, OnlyTheReceivedPairsAreChecked) {
  Bytes reply = Pairs(Bytes(9, 0x00));
  reply[17] = 0x00;  // the missing last pair holds garbage
  EXPECT_TRUE(Verify(reply, 16, 18));
}

TEST_F(VerifyReplyTest, WritesItsTraceLineFirst) {
  Verify(Pairs({0}), 2, 2);
  EXPECT_TRUE(Logged("Verif(7)"));
}

TEST_F(VerifyReplyTest, RefusesExpectedCountsBelowTwoAndPairsBeyondTheBuffer) {
  EXPECT_THROW(Verify({}, 0, 1), ERangeError);
  EXPECT_THROW(Verify({}, 2, 0), ERangeError);
  // 18 bytes claimed, but the buffer's highest valid index is 15.
  EXPECT_THROW(Verify(Pairs(Bytes(9, 0)), 18, 18, 15), ERangeError);
  EXPECT_TRUE(Verify(Pairs(Bytes(8, 0)), 16, 18, 15));
}

// A reply the check cannot examine must not let the exchange pass as good:
// the refusal is reported before the range error.
TEST_F(VerifyReplyTest, AnUncheckableReplyIsRefusedBeforeTheRangeError) {
  for (auto [received, expected, highIndex] :
       {std::tuple{300, 300, 254}, {18, 18, 15}, {2, 1, 254}, {2, -4, 254}}) {
    port.errors[7] = 0;
    port.states[7] = kLinkGood;
    EXPECT_THROW(Verify(Pairs(Bytes(9, 0)), received, expected, highIndex), ERangeError);
    EXPECT_EQ(port.errors[7], kErrorBadLength);
    EXPECT_EQ(port.states[7], kLinkBad);
  }
}

}  // namespace
}  // namespace quorlan::testing
