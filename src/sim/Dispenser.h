#pragma once
// One simulated dispenser: its model state, prices, authorization, the fill
// in progress and the totals of its nozzles. Numbers are integer hundredths,
// as the dispenser's display shows them. Not thread-safe: Line locks.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "Requests.h"

namespace quorlan::sim {

enum class DispenserState : std::uint8_t {
  NoPrices,    // 0x2F powered up without prices
  Idle,        // 0xA0 nozzle hung (or lifted without authorization)
  Authorized,  // 0x90 waiting for the nozzle
  Filling,     // 0x99
  Stopped,     // 0xD0 stopped or limit reached, nozzle up
  Finished,    // 0x20 nozzle hung, waiting for release
};

std::uint8_t StatusByteOf(DispenserState state);
std::string_view StateName(DispenserState state);

// The largest value the 6-digit display fields hold, in hundredths.
inline constexpr std::int64_t kDisplayLimit = 999999;

struct Authorization {
  int grade = 1;                 // 1..8
  std::int32_t price = 0;        // hundredths per litre
  std::int64_t moneyLimit = 0;   // hundredths; 0 means none
  std::int64_t volumeLimit = 0;  // hundredths; 0 means none
  bool preset = false;
};

struct NozzleTotals {
  std::int64_t volume = 0;  // hundredths, 10 digits
  std::int64_t amount = 0;  // hundredths, 12 digits
  friend bool operator==(const NozzleTotals&, const NozzleTotals&) = default;
};

// One fill as the dispenser charged it: the nozzle that poured, the grade
// and price it sold at, and its final display.
struct Sale {
  int nozzle = 0;
  int grade = 0;
  std::int32_t price = 0;
  std::int64_t volume = 0;
  std::int64_t amount = 0;
  friend bool operator==(const Sale&, const Sale&) = default;
};

struct DispenserSnapshot {
  DispenserState state = DispenserState::Idle;
  std::uint8_t statusByte = 0;
  int liftedNozzle = 0;                           // 0: all hung
  std::array<std::int32_t, kLastGrade> prices{};  // grade g at [g - 1]
  std::optional<Authorization> authorization;     // of the current or last fill
  int fillNozzle = 0;
  std::int64_t volume = 0;  // current or last fill, hundredths
  std::int64_t amount = 0;
  std::array<NozzleTotals, kLastNozzle> totals{};  // nozzle n at [n - 1]
  std::vector<Sale> sales;                         // every fill that ended, oldest first
};

class Dispenser {
 public:
  explicit Dispenser(bool withPrices);

  // Requests. Each returns false when the dispenser refuses it.
  void SetPriceTable(const std::array<std::int32_t, 4>& prices);
  void SetGradeOnePrice(std::int32_t price);
  bool Authorize(const Authorization& authorization);
  void Stop();
  void Release();

  // Nozzle events; false for a nozzle outside 1..8 or one already up.
  bool Lift(int nozzle);
  void Hang();

  // Pours while filling, up to the limits; litres may be fractional.
  void Pour(double litres);

  // Power lost and back: a running fill ends where it was, the display and
  // the authorization are gone, the nozzle hangs and the prices are lost;
  // the totals stay.
  void PowerCycle();

  DispenserState State() const { return state_; }
  std::uint8_t StatusByte() const { return StatusByteOf(state_); }
  int LiftedNozzle() const { return lifted_; }
  // The nozzle and grade of the current or last fill (0 before the first).
  int FillNozzle() const { return fillNozzle_; }
  int FillGrade() const { return authorization_ ? authorization_->grade : 0; }
  std::int64_t Volume() const { return volume_; }
  std::int64_t Amount() const { return amount_; }
  std::int32_t Price(int grade) const { return prices_.at(std::size_t(grade - 1)); }
  const NozzleTotals& Totals(int nozzle) const { return totals_.at(std::size_t(nozzle - 1)); }
  void SetTotals(int nozzle, NozzleTotals totals);
  DispenserSnapshot Snapshot() const;

 private:
  void StartFill();
  void Show(std::int64_t volume, std::int64_t amount);
  void ReachLimitOrKeep(std::int64_t volume);
  void EndSale();

  DispenserState state_;
  int lifted_ = 0;
  std::array<std::int32_t, kLastGrade> prices_{};
  std::optional<Authorization> authorization_;
  int fillNozzle_ = 0;
  double poured_ = 0;  // litres of the fill, unrounded
  std::int64_t volume_ = 0;
  std::int64_t amount_ = 0;
  std::array<NozzleTotals, kLastNozzle> totals_{};
  std::vector<Sale> sales_;
};

}  // namespace quorlan::sim
