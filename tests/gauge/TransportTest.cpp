// SPDX-License-Identifier: Apache-2.0
// The client over the real transports: a serial line (the simulated gauge
// on a pseudo-terminal) and TCP (the simulated gauge behind a loopback
// port), with late, cut and missing replies and a connection that drops.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "gauge/GaugeClient.h"
#include "gauge/transport/SerialGaugeLink.h"
#include "gauge/transport/TcpGaugeLink.h"
#include "sim/PtyServer.h"
#include "sim/TcpServer.h"
#include "sim/gauge/CommandReader.h"

namespace quorlan::gauge {
namespace {

using namespace std::chrono_literals;
using sim::GaugeFaultKind;

// Short deadlines: the simulator answers at once.
ClientOptions Quick() {
  ClientOptions options;
  options.timeouts = {
      .connect = 2000ms, .reply = 500ms, .interByte = 200ms, .settle = 100ms, .whole = 5000ms};
  return options;
}

std::size_t Tanks(const Outcome<Inventory>& outcome) {
  const auto* failure = FailureOf(outcome);
  EXPECT_FALSE(failure) << failure->detail;
  return failure ? 0 : std::get<Inventory>(outcome).tanks.size();
}

TEST(GaugeOverSerial, ReadsAndNeverTakesALateReplyForTheNext) {
  auto gauge = std::make_shared<sim::Gauge>();
  sim::PtyServer server(std::make_shared<sim::GaugeResponder>(gauge), sim::PtyOptions{});
  server.Start();
  GaugeClient client(std::make_unique<SerialGaugeLink>(server.SlavePath(), 9600), Quick());
  EXPECT_EQ(Tanks(client.ReadInventory()), 4u);

  // The alarms' reply comes after the client gave up on it; the inventory
  // asked next refuses it if it comes then, and gets its own reply.
  gauge->InjectFault(Function::Alarms, {.kind = GaugeFaultKind::LateReply, .delay = 700ms});
  EXPECT_EQ(FailureOf(client.ReadAlarms())->state, LinkState::NoReply);
  EXPECT_EQ(Tanks(client.ReadInventory(3)), 1u);
  EXPECT_EQ(Tanks(client.ReadInventory()), 4u);

  const auto badReplies = client.Counts().badReply;
  gauge->InjectFault(Function::Inventory, {.kind = GaugeFaultKind::CutReply});
  EXPECT_EQ(Tanks(client.ReadInventory()), 4u);  // asked again
  EXPECT_EQ(client.Counts().badReply, badReplies + 1);
  server.Stop();
}

TEST(GaugeOverSerial, ADeviceThatIsNotThereIsALineDown) {
  GaugeClient client(std::make_unique<SerialGaugeLink>("/dev/quorlan-no-such-gauge", 9600),
                     Quick());
  const auto outcome = client.ReadInventory();
  ASSERT_TRUE(FailureOf(outcome));
  EXPECT_EQ(FailureOf(outcome)->state, LinkState::LineDown);
}

TEST(GaugeOverTcp, ReadsThroughABridgeThatDropsAndComesBack) {
  auto gauge = std::make_shared<sim::Gauge>();
  sim::TcpServer server(std::make_shared<sim::GaugeResponder>(gauge), 0);
  server.Start();
  GaugeClient client(std::make_unique<TcpGaugeLink>("127.0.0.1", server.Port()), Quick());
  EXPECT_EQ(client.Describe(), "tcp://127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_EQ(Tanks(client.ReadInventory()), 4u);

  gauge->InjectFault(Function::Inventory, {.kind = GaugeFaultKind::NoReply, .persistent = true});
  EXPECT_EQ(FailureOf(client.ReadInventory())->state, LinkState::NoReply);
  gauge->ClearFaults();
  gauge->InjectFault(Function::Inventory, {.kind = GaugeFaultKind::LateReply, .delay = 700ms});
  EXPECT_EQ(FailureOf(client.ReadInventory())->state, LinkState::NoReply);
  EXPECT_EQ(Tanks(client.ReadInventory(2)), 1u);

  // The bridge drops the connection: a line down, then a new connection.
  server.Stop();
  EXPECT_EQ(FailureOf(client.ReadInventory())->state, LinkState::LineDown);
  server.Start();
  EXPECT_EQ(Tanks(client.ReadInventory()), 4u);
  server.Stop();
}

TEST(GaugeOverTcp, NobodyListeningIsALineDownWithTheReason) {
  int port = 0;
  {
    sim::TcpServer closed(std::make_shared<sim::GaugeResponder>(std::make_shared<sim::Gauge>()), 0);
    port = closed.Port();
  }
  GaugeClient client(std::make_unique<TcpGaugeLink>("127.0.0.1", port), Quick());
  const auto outcome = client.ReadInventory();
  ASSERT_TRUE(FailureOf(outcome));
  EXPECT_EQ(FailureOf(outcome)->state, LinkState::LineDown);
  EXPECT_NE(FailureOf(outcome)->detail.find("cannot connect"), std::string::npos);
}

// The simulator's TCP server, as a bridge is used: one client at a time, the
// next one served once the first leaves, and a stop that comes while a
// client is connected and silent.
TEST(GaugeOverTcp, TheSimulatorServesOneClientAfterTheOther) {
  auto gauge = std::make_shared<sim::Gauge>();
  sim::TcpServer server(std::make_shared<sim::GaugeResponder>(gauge), 0, {.pacing = true});
  server.Start();
  for (int client = 0; client < 3; ++client) {
    GaugeClient reader(std::make_unique<TcpGaugeLink>("127.0.0.1", server.Port()), Quick());
    EXPECT_EQ(Tanks(reader.ReadInventory(client + 1)), 1u) << client;
  }
  GaugeClient idle(std::make_unique<TcpGaugeLink>("127.0.0.1", server.Port()), Quick());
  EXPECT_EQ(Tanks(idle.ReadInventory(4)), 1u);
  server.Stop();  // with `idle` still connected
  EXPECT_EQ(gauge->Commands(), 4u);
}

// A bridge whose far side never stops talking: bytes every 20 ms, never an
// ETX. The reply is cut at the whole-reply deadline and asked again; the
// line that never falls silent is then given up as down. Never a hang.
TEST(GaugeOverTcp, AGaugeThatNeverFallsSilentIsCutOffAndGivenUp) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::atomic<bool> done{false};
  std::thread babbler([&] {
    const int client = ::accept(listener, nullptr, nullptr);
    while (!done && ::send(client, "\x01noise", 6, MSG_NOSIGNAL) > 0) {
      std::this_thread::sleep_for(20ms);
    }
    ::close(client);
  });
  auto options = Quick();
  options.timeouts.whole = 600ms;
  GaugeClient client(std::make_unique<TcpGaugeLink>("127.0.0.1", ntohs(address.sin_port)), options);
  const auto outcome = client.ReadInventory();
  done = true;
  ASSERT_TRUE(FailureOf(outcome));
  EXPECT_EQ(FailureOf(outcome)->state, LinkState::LineDown);
  EXPECT_EQ(FailureOf(outcome)->detail, "the gauge does not fall silent");
  EXPECT_EQ(client.Counts().badReply, 1u);  // the first, cut at the deadline
  client.Close();
  babbler.join();
  ::close(listener);
}

}  // namespace
}  // namespace quorlan::gauge
