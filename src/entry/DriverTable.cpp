#include "entry/DriverTable.h"

#include <algorithm>
#include <cstring>

#include "entry/Boundary.h"
#include "entry/HostConvention.h"
#include "entry/HostPointer.h"

namespace quorlan::entry {

namespace {

// Parameters the host's table declares as bytes arrive with undefined upper
// bits.
constexpr std::uint8_t LowByte(std::uint32_t value) {
  return static_cast<std::uint8_t>(value);
}

// Entries in table order. Stack parameters are declared in reverse of the
// host's push order; doubles take no register.

void QUORLAN_HOST_CALLABLE NotImplemented(BinaryDriver* self) {
  RunForHost([&] { self->driver->NotImplemented(); });
}

void QUORLAN_HOST_CALLABLE GetDescription(BinaryDriver* self, std::uint8_t* shortString) {
  RunForHost([&] {
    auto& result = HostReference(shortString);
    const std::string text = self->driver->GetDescription();
    const std::size_t length = std::min<std::size_t>(text.size(), 255);
    (&result)[0] = static_cast<std::uint8_t>(length);
    std::memcpy(&result + 1, text.data(), length);
  });
}

void QUORLAN_HOST_CALLABLE SetLinkState(BinaryDriver* self, std::uint32_t c, std::uint32_t state) {
  RunForHost([&] { self->driver->SetLinkState(c, LowByte(state)); });
}

std::uint8_t QUORLAN_HOST_CALLABLE GetLinkState(BinaryDriver* self, std::uint32_t c) {
  return RunForHost([&] { return self->driver->GetLinkState(c); });
}

std::int32_t QUORLAN_HOST_CALLABLE Stop(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                        std::uint32_t x) {
  return RunForHost([&] { return self->driver->Stop(c, d, x); });
}

void QUORLAN_HOST_CALLABLE Reserved5(BinaryDriver* self, std::uint32_t x) {
  RunForHost([&] { self->driver->Reserved5(x); });
}

void QUORLAN_HOST_CALLABLE GetTransaction(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                          double* amount, double* volume) {
  RunForHost(
      [&] { self->driver->GetTransaction(c, d, HostReference(volume), HostReference(amount)); });
}

void QUORLAN_HOST_CALLABLE ReadTotals(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                      std::uint32_t y, std::uint32_t x, double* amountTotal,
                                      double* volumeTotal, std::int32_t nozzle) {
  RunForHost([&] {
    self->driver->ReadTotals(c, d, nozzle, HostReference(volumeTotal), HostReference(amountTotal),
                             x, y);
  });
}

void QUORLAN_HOST_CALLABLE Reserved8(BinaryDriver* self, std::uint32_t x1, std::uint32_t x2,
                                     std::uint32_t x7, std::uint32_t x6, std::uint32_t x5,
                                     std::uint32_t x4, std::uint32_t x3) {
  RunForHost([&] { self->driver->Reserved8(x1, x2, x3, x4, x5, x6, x7); });
}

double QUORLAN_HOST_CALLABLE ReadTransaction(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                             double* amount) {
  return RunForHost([&] { return self->driver->ReadTransaction(c, d, HostReference(amount)); });
}

std::uint16_t QUORLAN_HOST_CALLABLE PollStatus(BinaryDriver* self, std::uint32_t c,
                                               std::uint32_t d) {
  return RunForHost([&] { return self->driver->PollStatus(c, d); });
}

void QUORLAN_HOST_CALLABLE SetPrice(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                    double price, std::uint32_t y, std::uint32_t x,
                                    std::uint32_t g) {
  RunForHost([&] { self->driver->SetPrice(c, d, g, x, y, price); });
}

void QUORLAN_HOST_CALLABLE Reserved12(BinaryDriver* self, std::uint32_t x1, std::uint32_t x2,
                                      std::uint32_t x3) {
  RunForHost([&] { self->driver->Reserved12(x1, x2, x3); });
}

void QUORLAN_HOST_CALLABLE SetVolumePreset(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                           double volume, std::uint32_t y, std::uint32_t x) {
  RunForHost([&] { self->driver->SetVolumePreset(c, d, x, y, volume); });
}

void QUORLAN_HOST_CALLABLE SetAmountPreset(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                           double amount, std::uint32_t x, std::uint32_t g) {
  RunForHost([&] { self->driver->SetAmountPreset(c, d, g, x, amount); });
}

void QUORLAN_HOST_CALLABLE Start(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                 std::uint32_t g) {
  RunForHost([&] { self->driver->Start(c, d, g); });
}

void QUORLAN_HOST_CALLABLE OpenChannel(BinaryDriver* self, std::uint32_t c) {
  RunForHost([&] { self->driver->OpenChannel(c); });
}

void QUORLAN_HOST_CALLABLE Reserved17(BinaryDriver* self, std::uint32_t x1, std::uint32_t x2,
                                      std::uint32_t x3) {
  RunForHost([&] { self->driver->Reserved17(x1, x2, x3); });
}

void QUORLAN_HOST_CALLABLE Reserved18(BinaryDriver* self, std::uint32_t x1, std::uint32_t x2,
                                      std::uint32_t x4, std::uint32_t x3) {
  RunForHost([&] { self->driver->Reserved18(x1, x2, x3, x4); });
}

void QUORLAN_HOST_CALLABLE Authorize(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                     std::uint32_t presetFlag, std::uint32_t g) {
  RunForHost([&] { self->driver->Authorize(c, d, g, LowByte(presetFlag)); });
}

bool QUORLAN_HOST_CALLABLE QueryOption(BinaryDriver* self, std::uint32_t option,
                                       std::int32_t* value) {
  return RunForHost([&] { return self->driver->QueryOption(option, HostReference(value)); });
}

void QUORLAN_HOST_CALLABLE GetNozzleStatus(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                           NozzleStatusRecord* result, std::uint32_t mode) {
  RunForHost([&] {
    self->driver->GetNozzleStatus(LowByte(c), LowByte(d), LowByte(mode), HostReference(result));
  });
}

std::int32_t QUORLAN_HOST_CALLABLE StopNozzle(BinaryDriver* self, std::uint32_t c, std::uint32_t d,
                                              std::uint32_t y, std::uint32_t x) {
  return RunForHost([&] { return self->driver->StopNozzle(c, d, x, y); });
}

void QUORLAN_HOST_CALLABLE Reserved23(BinaryDriver* self, std::uint32_t x1, std::uint32_t x2,
                                      std::uint32_t x4, std::uint32_t x3) {
  RunForHost([&] { self->driver->Reserved23(x1, x2, x3, x4); });
}

template <class Fn>
const void* Entry(Fn* function) {
  return reinterpret_cast<const void*>(function);
}

const void* const kTable[kDriverEntries] = {
    Entry(&NotImplemented), Entry(&GetDescription),  Entry(&SetLinkState),    Entry(&GetLinkState),
    Entry(&Stop),           Entry(&Reserved5),       Entry(&GetTransaction),  Entry(&ReadTotals),
    Entry(&Reserved8),      Entry(&ReadTransaction), Entry(&PollStatus),      Entry(&SetPrice),
    Entry(&Reserved12),     Entry(&SetVolumePreset), Entry(&SetAmountPreset), Entry(&Start),
    Entry(&OpenChannel),    Entry(&Reserved17),      Entry(&Reserved18),      Entry(&Authorize),
    Entry(&QueryOption),    Entry(&GetNozzleStatus), Entry(&StopNozzle),      Entry(&Reserved23),
};

}  // namespace

const void* const* DriverTable() {
  return kTable;
}

BinaryDriver* WrapForHost(TVM30* driver) {
  return new BinaryDriver{kTable, driver};
}

}  // namespace quorlan::entry
