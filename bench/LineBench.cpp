// Each operation over a pseudo-terminal against the simulator pacing its
// replies at 9600 baud: the median exchange time against the line time its
// bytes need, and the same for a status sweep of 32 dispensers.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "link/Frame.h"
#include "support/LineTiming.h"
#include "support/PtyRig.h"

namespace quorlan::bench {
namespace {

// What one timed run does, made ready on the rig.
using Prepare = std::function<std::function<void()>(PtyRig&)>;

struct LineOperation {
  int dispensers = 1;
  Prepare prepare;
};

// A driver call on the rig's driver.
Prepare OnDriver(std::function<void(TVM30&)> call) {
  return [call = std::move(call)](PtyRig& rig) {
    return [call, &driver = rig.Driver()] { call(driver); };
  };
}

// The status poll without the driver stack: plain write, poll and read on
// the pseudo-terminal, the floor the stack's own cost is seen against.
class BareClient {
 public:
  explicit BareClient(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), path);
    termios mode{};
    ::tcgetattr(fd_, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(fd_, TCSANOW, &mode);
  }
  ~BareClient() { ::close(fd_); }
  BareClient(const BareClient&) = delete;
  BareClient& operator=(const BareClient&) = delete;

  void Exchange(const Frame& request, std::size_t replyLength) {
    if (::write(fd_, request.bytes.data(), std::size_t(request.length)) != request.length) {
      throw std::runtime_error("bare client: write failed");
    }
    std::array<std::uint8_t, kReplyBufferSize> reply{};
    for (std::size_t got = 0; got < replyLength;) {
      pollfd ready{fd_, POLLIN, 0};
      const auto count =
          ::poll(&ready, 1, 1000) > 0 ? ::read(fd_, reply.data() + got, replyLength - got) : -1;
      if (count <= 0) throw std::runtime_error("bare client: no reply");
      got += std::size_t(count);
    }
  }

 private:
  int fd_;
};

Prepare BareStatusPoll() {
  return [](PtyRig& rig) {
    auto client = std::make_shared<BareClient>(rig.SlavePath(1));
    return [client, frame = BuildFrame(1, 0xA1, {})] { client->Exchange(frame, 18); };
  };
}

void OverTheLine(benchmark::State& state, const LineOperation& operation) {
  PtyRig rig(1, operation.dispensers);
  TimeOverTheLine(state, operation.prepare(rig), [&rig] { return rig.LineBytes(1); });
}

void Register(const char* name, int exchanges, LineOperation operation) {
  benchmark::RegisterBenchmark(name, OverTheLine, std::move(operation))
      ->Iterations(exchanges)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
  Register("Line/status_poll", 60, {.prepare = OnDriver([](TVM30& d) { d.PollStatus(1, 1); })});
  Register("Line/status_poll_bare", 60, {.prepare = BareStatusPoll()});
  Register("Line/nozzle_status", 40, {.prepare = OnDriver([](TVM30& d) {
                                        NozzleStatusRecord record;
                                        d.GetNozzleStatus(1, 1, 1, record);
                                      })});
  Register("Line/price_download", 30,
           {.prepare = OnDriver([](TVM30& d) { d.SetPrice(1, 1, 1, 0, 0, 45.67); })});
  Register("Line/preset_authorize", 30, {.prepare = OnDriver([](TVM30& d) {
                                           d.SetVolumePreset(1, 1, 0, 0, 3.5);
                                           d.Start(1, 1, 1);
                                         })});
  Register("Line/stop", 30, {.prepare = OnDriver([](TVM30& d) { d.Stop(1, 1, 0); })});
  Register("Line/transaction_readout", 30,
           {.prepare = OnDriver([](TVM30& d) {
              double amount = 0;
              benchmark::DoNotOptimize(d.ReadTransaction(1, 1, amount));
            })});
  Register("Line/totals", 30, {.prepare = OnDriver([](TVM30& d) {
                                 double volume = 0, amount = 0;
                                 d.ReadTotals(1, 1, 1, volume, amount, 0, 0);
                               })});
  Register("Line/status_sweep_32", 7, {.dispensers = 32, .prepare = OnDriver([](TVM30& d) {
                                                           for (std::uint32_t n = 1; n <= 32; ++n)
                                                             d.PollStatus(1, n);
                                                         })});
  return true;
}();

}  // namespace
}  // namespace quorlan::bench
