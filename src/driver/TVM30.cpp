#include "driver/TVM30.h"

#include <atomic>
#include <stdexcept>

#include "base/Win1251.h"
#include "commands/Presets.h"
#include "commands/PriceDownload.h"
#include "commands/StatusPoll.h"
#include "commands/Stop.h"
#include "commands/Totals.h"
#include "commands/TransactionReadout.h"
#include "quorlan/Version.h"

namespace quorlan {

namespace {

std::atomic<std::uintptr_t> applicationWindow{0};

struct OptionAnswer {
  std::uint32_t option;
  std::int32_t value;
};
constexpr OptionAnswer kOptions[] = {{1, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 0}};

}  // namespace

TVM30::TVM30(TPortDispatcher& port, std::uint32_t flags, Logger& logger)
    : state_(port, logger, (flags & kFlagAmountFromVolume) != 0) {}

void TVM30::NotImplemented() {
  throw EAbstractError();
}

std::string TVM30::GetDescription() {
  return std::string("v" QUORLAN_VERSION "#Протокол к Quorlan"_w1251);
}

// A channel outside 1..32 has no link state: the setter ignores it and the
// getter reports 0, so host mistakes never reach memory outside the table.
void TVM30::SetLinkState(std::uint32_t c, std::uint8_t state) {
  if (c >= 1 && c <= kChannels) state_.link.LinkState(c) = state;
}

std::uint8_t TVM30::GetLinkState(std::uint32_t c) {
  return c >= 1 && c <= kChannels ? state_.link.LinkState(c) : 0;
}

std::int32_t TVM30::Stop(std::uint32_t c, std::uint32_t d, std::uint32_t) {
  quorlan::Stop(state_, c, d);
  return 0;
}

void TVM30::Reserved5(std::uint32_t) {}

void TVM30::GetTransaction(std::uint32_t c, std::uint32_t d, double& volume, double& amount) {
  volume = ReadTransaction(c, d, amount);
}

void TVM30::ReadTotals(std::uint32_t c, std::uint32_t d, std::int32_t nozzle, double& volumeTotal,
                       double& amountTotal, std::uint32_t, std::uint32_t) {
  quorlan::ReadTotals(state_, c, d, nozzle, volumeTotal, amountTotal);
}

void TVM30::Reserved8(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                      std::uint32_t, std::uint32_t) {}

double TVM30::ReadTransaction(std::uint32_t c, std::uint32_t d, double& amount) {
  return quorlan::ReadTransaction(state_, c, d, amount);
}

std::uint16_t TVM30::PollStatus(std::uint32_t c, std::uint32_t d) {
  return quorlan::PollStatus(state_, c, d);
}

void TVM30::SetPrice(std::uint32_t c, std::uint32_t d, std::uint32_t g, std::uint32_t,
                     std::uint32_t, double price) {
  quorlan::SetPrice(state_, c, d, g, price);
}

void TVM30::Reserved12(std::uint32_t, std::uint32_t, std::uint32_t) {}

void TVM30::SetVolumePreset(std::uint32_t c, std::uint32_t d, std::uint32_t, std::uint32_t,
                            double volume) {
  quorlan::SetVolumePreset(state_, c, d, volume);
}

void TVM30::SetAmountPreset(std::uint32_t c, std::uint32_t d, std::uint32_t g, std::uint32_t,
                            double amount) {
  quorlan::SetAmountPreset(state_, c, d, g, amount);
}

void TVM30::Start(std::uint32_t c, std::uint32_t d, std::uint32_t g) {
  Authorize(c, d, g, 1);
}

void TVM30::OpenChannel(std::uint32_t c) {
  state_.link.SetupChannel(c);
  for (int d = 1; d <= 4; ++d) state_.priceDirty[c][d] = 1;
}

void TVM30::Reserved17(std::uint32_t, std::uint32_t, std::uint32_t) {}

void TVM30::Reserved18(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}

void TVM30::Authorize(std::uint32_t c, std::uint32_t d, std::uint32_t g, std::uint8_t presetFlag) {
  quorlan::Authorize(state_, c, d, g, presetFlag != 0);
}

bool TVM30::QueryOption(std::uint32_t option, std::int32_t& value) {
  for (const auto& answer : kOptions) {
    if (answer.option == option) {
      value = answer.value;
      return true;
    }
  }
  return false;
}

void TVM30::GetNozzleStatus(std::uint8_t c, std::uint8_t d, std::uint8_t mode,
                            NozzleStatusRecord& result) {
  PrepareNozzleStatus(state_, c, d, mode);
  FillNozzleStatusRecord(PollStatus(c, d), result);
}

std::int32_t TVM30::StopNozzle(std::uint32_t c, std::uint32_t d, std::uint32_t, std::uint32_t y) {
  return Stop(c, d, y & 0xFF);
}

void TVM30::Reserved23(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}

TVM30* GetDI30(std::uint32_t flags, std::uintptr_t appWindow, TPortDispatcher* port) {
  StartLogger();
  applicationWindow = appWindow;
  if (port == nullptr) throw std::invalid_argument("no port dispatcher");
  return new TVM30(*port, flags);
}

TVM30* GetDriver25(std::uint32_t flags, std::uintptr_t appWindow, TPortDispatcher* port,
                   std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  return GetDI30(flags, appWindow, port);
}

std::uintptr_t ApplicationWindow() {
  return applicationWindow;
}

}  // namespace quorlan
