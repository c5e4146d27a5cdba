#pragma once
// The driver object: its tables and the 24 operations of the host's table,
// as virtual members in table order so that forwarding entries honour an
// override of their target.

#include <cstdint>
#include <string>

#include "commands/DriverState.h"
#include "commands/NozzleStates.h"
#include "quorlan/PortDispatcher.h"
#include "log/Logger.h"

namespace quorlan {

// Bit 7 of the factory's flags.
inline constexpr std::uint32_t kFlagAmountFromVolume = 0x80;

class TVM30 {
 public:
  TVM30(TPortDispatcher& port, std::uint32_t flags, Logger& logger = DefaultLogger());
  virtual ~TVM30() = default;
  TVM30(const TVM30&) = delete;
  TVM30& operator=(const TVM30&) = delete;

  // Entries 0..23 of the operation table.
  virtual void NotImplemented();  // 0: raises EAbstractError
  virtual std::string GetDescription();
  virtual void SetLinkState(std::uint32_t c, std::uint8_t state);
  virtual std::uint8_t GetLinkState(std::uint32_t c);
  virtual std::int32_t Stop(std::uint32_t c, std::uint32_t d, std::uint32_t x);
  virtual void Reserved5(std::uint32_t x);
  virtual void GetTransaction(std::uint32_t c, std::uint32_t d, double& volume, double& amount);
  virtual void ReadTotals(std::uint32_t c, std::uint32_t d, std::int32_t nozzle,
                          double& volumeTotal, double& amountTotal, std::uint32_t x,
                          std::uint32_t y);
  virtual void Reserved8(std::uint32_t x1, std::uint32_t x2, std::uint32_t x3, std::uint32_t x4,
                         std::uint32_t x5, std::uint32_t x6, std::uint32_t x7);
  virtual double ReadTransaction(std::uint32_t c, std::uint32_t d, double& amount);
  virtual std::uint16_t PollStatus(std::uint32_t c, std::uint32_t d);
  virtual void SetPrice(std::uint32_t c, std::uint32_t d, std::uint32_t g, std::uint32_t x,
                        std::uint32_t y, double price);
  virtual void Reserved12(std::uint32_t x1, std::uint32_t x2, std::uint32_t x3);
  virtual void SetVolumePreset(std::uint32_t c, std::uint32_t d, std::uint32_t x, std::uint32_t y,
                               double volume);
  virtual void SetAmountPreset(std::uint32_t c, std::uint32_t d, std::uint32_t g, std::uint32_t x,
                               double amount);
  virtual void Start(std::uint32_t c, std::uint32_t d, std::uint32_t g);
  virtual void OpenChannel(std::uint32_t c);
  virtual void Reserved17(std::uint32_t x1, std::uint32_t x2, std::uint32_t x3);
  virtual void Reserved18(std::uint32_t x1, std::uint32_t x2, std::uint32_t x3, std::uint32_t x4);
  virtual void Authorize(std::uint32_t c, std::uint32_t d, std::uint32_t g,
                         std::uint8_t presetFlag);
  virtual bool QueryOption(std::uint32_t option, std::int32_t& value);
  // Writes bytes 0, 1, 14 and 15 of the host's record, nothing else.
  virtual void GetNozzleStatus(std::uint8_t c, std::uint8_t d, std::uint8_t mode,
                               NozzleStatusRecord& result);
  virtual std::int32_t StopNozzle(std::uint32_t c, std::uint32_t d, std::uint32_t x,
                                  std::uint32_t y);
  virtual void Reserved23(std::uint32_t x1, std::uint32_t x2, std::uint32_t x3, std::uint32_t x4);

  // The tables, for tools and tests that inspect the driver.
  DriverState& State() { return state_; }
  const DriverState& State() const { return state_; }
  bool AmountFromVolume() const { return state_.amountFromVolume; }

 private:
  DriverState state_;
};

// The factories behind the DLL's exports: start the logger, adopt the host's
// window, create the driver object. The object is never destroyed.
TVM30* GetDI30(std::uint32_t flags, std::uintptr_t appWindow, TPortDispatcher* port);
TVM30* GetDriver25(std::uint32_t flags, std::uintptr_t appWindow, TPortDispatcher* port,
                   std::uint32_t x1, std::uint32_t x2, std::uint32_t x3, std::uint32_t x4,
                   std::uint32_t x5);

// The host's window the library adopted (0 until a factory ran).
std::uintptr_t ApplicationWindow();

}  // namespace quorlan
