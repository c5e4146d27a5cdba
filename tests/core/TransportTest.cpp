// The transport base: the one behaviour every transport shares, around a
// transfer scripted per case.

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <vector>

#include "quorlan/Transport.h"

namespace quorlan {
namespace {

class ScriptedTransport : public Transport {
 public:
  Received next = Received::Nothing();
  std::vector<std::uint8_t> bytes;  // copied into the reply
  int transfers = 0;
  bool setUpWorks = true;

  Received Transfer(std::int32_t, std::span<const std::uint8_t>,
                    std::span<std::uint8_t> reply) override {
    ++transfers;
    std::copy_n(bytes.begin(), std::min(bytes.size(), reply.size()), reply.begin());
    return next;
  }

 protected:
  bool SetUpLine(std::int32_t, std::int32_t, std::int32_t) override { return setUpWorks; }
};

struct VerifierScript {
  std::optional<std::uint32_t> verdict;  // nullopt: throws
  int calls = 0;
};

bool Verify(void* owner, std::int32_t channel, const std::uint8_t*, std::int32_t, std::int32_t,
            std::int32_t) {
  auto& script = *static_cast<std::pair<VerifierScript*, Transport*>*>(owner);
  ++script.first->calls;
  if (!script.first->verdict) throw std::runtime_error("verifier failed");
  script.second->SetError(channel, *script.first->verdict);
  script.second->SetState(channel, *script.first->verdict == 0 ? kLinkGood : kLinkBad);
  return *script.first->verdict == 0;
}

struct Case {
  const char* name;
  std::int32_t channel;
  Transport::Received received;
  bool withVerifier;
  std::optional<std::uint32_t> verdict;
  std::uint32_t code;
  std::uint8_t state;
  int transfers;
  int verifierCalls;
};

class TransportBehaviour : public ::testing::TestWithParam<Case> {};

TEST_P(TransportBehaviour, RecordsOneVerdictPerExchange) {
  const Case& c = GetParam();
  ScriptedTransport transport;
  transport.next = c.received;
  transport.bytes.assign(4, 0);
  VerifierScript script{c.verdict};
  std::pair<VerifierScript*, Transport*> owner{&script, &transport};
  if (c.withVerifier) transport.SetVerifier(c.channel, {Verify, &owner});
  const std::uint8_t request[2] = {0xF0, 0x0F};
  std::uint8_t reply[kReplyBufferSize] = {};
  const bool throws = c.withVerifier && !c.verdict && c.received.count > 0;
  std::uint32_t code = 0;
  if (throws) {
    EXPECT_THROW(transport.Exchange(c.channel, request, 2, reply, 4, 0), std::runtime_error);
    code = transport.GetError(c.channel);
  } else {
    code = transport.Exchange(c.channel, request, 2, reply, 4, 0);
  }
  EXPECT_EQ(code, c.code);
  EXPECT_EQ(transport.GetError(c.channel), c.code);
  EXPECT_EQ(transport.GetState(c.channel), c.state);
  EXPECT_EQ(transport.transfers, c.transfers);
  EXPECT_EQ(script.calls, c.verifierCalls);
}

using R = Transport::Received;
INSTANTIATE_TEST_SUITE_P(
    Cases, TransportBehaviour,
    ::testing::Values(
        Case{"VerifierVerdictStands", 1, R::Bytes(4), true, kErrorBadComplement,
             kErrorBadComplement, kLinkBad, 1, 1},
        Case{"VerifierGood", 32, R::Bytes(2), true, 0, 0, kLinkGood, 1, 1},
        Case{"NoVerifierExactLength", 0, R::Bytes(4), false, 0, 0, kLinkGood, 1, 0},
        Case{"NoVerifierShort", 1, R::Bytes(2), false, 0, kErrorBadLength, kLinkBad, 1, 0},
        Case{"VerifierThrows", 1, R::Bytes(4), true, std::nullopt, kErrorVerifierException,
             kLinkBad, 1, 1},
        Case{"Silence", 1, R::Nothing(), true, 0, kErrorNoReply, kLinkBad, 1, 0},
        Case{"LineFailed", 1, R::LineFailed(), true, 0, kErrorLineFailure, kLinkBad, 1, 0},
        Case{"BelowRange", -1, R::Bytes(4), true, 0, kErrorLineFailure, kLinkBad, 0, 0},
        Case{"AboveRange", 33, R::Bytes(4), true, 0, kErrorLineFailure, kLinkBad, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TransportTest, MissingBuffersAndFailedSetupAreLineFailures) {
  ScriptedTransport transport;
  std::uint8_t reply[kReplyBufferSize] = {};
  EXPECT_EQ(transport.Exchange(1, nullptr, 2, reply, 4, 0), kErrorLineFailure);
  EXPECT_EQ(transport.Exchange(2, reply, -1, reply, 4, 0), kErrorLineFailure);
  EXPECT_EQ(transport.Exchange(3, reply, 2, nullptr, 4, 0), kErrorLineFailure);
  EXPECT_EQ(transport.transfers, 0);
  transport.setUpWorks = false;
  transport.Configure(4, 3, 9600);
  EXPECT_EQ(transport.GetError(4), kErrorLineFailure);
  EXPECT_EQ(transport.GetState(4), kLinkBad);
}

}  // namespace
}  // namespace quorlan
