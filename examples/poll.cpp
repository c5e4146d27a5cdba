// Embeds the installed library: opens one serial line and polls a dispenser.
//
//   quorlan-poll DEVICE [DISPENSER]
//
// Exit status 0 when the dispenser answered, 1 when it did not, 2 on misuse.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "quorlan/Driver.h"
#include "quorlan/SerialTransport.h"
#include "quorlan/Version.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s DEVICE [DISPENSER]\n", argv[0]);
    return 2;
  }
  const quorlan::Channel channel = 1;
  const auto dispenser = static_cast<quorlan::Dispenser>(argc == 3 ? std::atoi(argv[2]) : 1);

  quorlan::serial::SerialDispatcher transport;
  transport.MapChannel(channel, argv[1]);
  quorlan::Driver driver(transport);
  try {
    driver.OpenLine(channel);
    const quorlan::Status status = driver.Poll(channel, dispenser);
    std::printf("quorlan %s: dispenser %u is %s", QUORLAN_VERSION, unsigned(dispenser),
                std::string(quorlan::StateName(status.state)).c_str());
    if (status.nozzle != 0) std::printf(", nozzle %u", unsigned(status.nozzle));
    std::printf(", %.2f l, %.2f\n", status.volume, status.amount);
    return status.state == quorlan::DispenserState::NoReply ? 1 : 0;
  } catch (const quorlan::Error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
