#include "Dispenser.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "quorlan/Driver.h"

namespace quorlan::sim {
namespace {

// The totals counters roll over like the dispenser's: 10 digits of volume,
// 12 of money, both in hundredths.
constexpr std::int64_t kVolumeTotalModulus = 10'000'000'000;
constexpr std::int64_t kAmountTotalModulus = 1'000'000'000'000;

// A limit of 0 is what a host sends when it never set one: no limit.
std::int64_t Cap(std::int64_t limit) {
  return limit > 0 ? std::min(limit, kDisplayLimit) : kDisplayLimit;
}

std::int64_t AmountOf(std::int64_t volume, std::int32_t price) {
  return (volume * price + 50) / 100;
}

}  // namespace

std::uint8_t StatusByteOf(DispenserState state) {
  switch (state) {
    case DispenserState::NoPrices:
      return status::kPoweredUp;
    case DispenserState::Idle:
      return status::kIdle;
    case DispenserState::Authorized:
      return status::kAuthorized;
    case DispenserState::Filling:
      return status::kFilling;
    case DispenserState::Stopped:
      return status::kStopped;
    case DispenserState::Finished:
      return status::kFinished;
  }
  return 0x00;
}

std::string_view StateName(DispenserState state) {
  // The driver's words for the same states, in this enum's order.
  static constexpr std::array<quorlan::DispenserState, 6> kDriverStates{
      quorlan::DispenserState::NoPrices,   quorlan::DispenserState::Idle,
      quorlan::DispenserState::Authorized, quorlan::DispenserState::Filling,
      quorlan::DispenserState::Stopped,    quorlan::DispenserState::Finished};
  const auto index = static_cast<std::size_t>(state);
  return index < kDriverStates.size() ? quorlan::StateName(kDriverStates[index]) : "?";
}

Dispenser::Dispenser(bool withPrices)
    : state_(withPrices ? DispenserState::Idle : DispenserState::NoPrices) {
  // A dispenser that kept its prices holds what the driver starts with.
  if (withPrices) {
    for (int g = 1; g <= kLastGrade; ++g) prices_[std::size_t(g - 1)] = g * 1111;
  }
}

void Dispenser::SetPriceTable(const std::array<std::int32_t, 4>& prices) {
  std::copy(prices.begin(), prices.end(), prices_.begin());
  if (state_ == DispenserState::NoPrices) state_ = DispenserState::Idle;
}

void Dispenser::SetGradeOnePrice(std::int32_t price) {
  prices_[0] = price;
  if (state_ == DispenserState::NoPrices) state_ = DispenserState::Idle;
}

bool Dispenser::Authorize(const Authorization& authorization) {
  switch (state_) {
    case DispenserState::NoPrices:
    case DispenserState::Filling:
    case DispenserState::Stopped:
      return false;
    case DispenserState::Idle:
    case DispenserState::Authorized:
    case DispenserState::Finished:  // a new authorization also settles the last fill
      break;
  }
  authorization_ = authorization;
  poured_ = 0;
  volume_ = amount_ = 0;
  fillNozzle_ = 0;
  if (lifted_ != 0) {
    StartFill();
  } else {
    state_ = DispenserState::Authorized;
  }
  return true;
}

void Dispenser::StartFill() {
  fillNozzle_ = lifted_;
  if (!authorization_->preset) {
    // A plain authorization fills the lifted nozzle's grade at its price.
    authorization_->grade = lifted_;
    authorization_->price = prices_[std::size_t(lifted_ - 1)];
  }
  state_ = DispenserState::Filling;
}

void Dispenser::Stop() {
  if (state_ == DispenserState::Filling) state_ = DispenserState::Stopped;
  if (state_ == DispenserState::Authorized) state_ = DispenserState::Idle;
}

void Dispenser::Release() {
  if (state_ == DispenserState::Finished) state_ = DispenserState::Idle;
}

bool Dispenser::Lift(int nozzle) {
  if (nozzle < 1 || nozzle > kLastNozzle || lifted_ != 0) return false;
  lifted_ = nozzle;
  if (state_ == DispenserState::Authorized) StartFill();
  return true;
}

void Dispenser::Hang() {
  if (lifted_ == 0) return;
  lifted_ = 0;
  if (state_ == DispenserState::Filling || state_ == DispenserState::Stopped) {
    EndSale();
    state_ = DispenserState::Finished;
  }
}

void Dispenser::EndSale() {
  sales_.push_back({fillNozzle_, authorization_->grade, authorization_->price, volume_, amount_});
}

void Dispenser::PowerCycle() {
  if (state_ == DispenserState::Filling || state_ == DispenserState::Stopped) EndSale();
  state_ = DispenserState::NoPrices;
  lifted_ = 0;
  authorization_.reset();
  fillNozzle_ = 0;
  poured_ = 0;
  volume_ = amount_ = 0;
  prices_.fill(0);
}

void Dispenser::Pour(double litres) {
  if (state_ != DispenserState::Filling || !(litres > 0)) return;
  poured_ += litres;
  const auto& authorization = *authorization_;
  const std::int64_t volumeCap = Cap(authorization.volumeLimit);
  const std::int64_t moneyCap = Cap(authorization.moneyLimit);
  // The display shows whole hundredths; the epsilon absorbs binary fractions.
  auto volume = static_cast<std::int64_t>(std::floor(poured_ * 100 + 1e-7));
  bool limitReached = volume >= volumeCap;
  volume = std::min(volume, volumeCap);
  auto amount = AmountOf(volume, authorization.price);
  if (authorization.price > 0 && amount >= moneyCap) {
    // The money limit stops the fill at the exact amount.
    amount = moneyCap;
    volume = std::min(volume, (moneyCap * 100 + authorization.price / 2) / authorization.price);
    limitReached = true;
  }
  if (limitReached) {
    poured_ = static_cast<double>(volume) / 100;
    state_ = DispenserState::Stopped;
  }
  Show(volume, amount);
}

void Dispenser::Show(std::int64_t volume, std::int64_t amount) {
  auto& totals = totals_[std::size_t(fillNozzle_ - 1)];
  totals.volume = (totals.volume + volume - volume_) % kVolumeTotalModulus;
  totals.amount = (totals.amount + amount - amount_) % kAmountTotalModulus;
  volume_ = volume;
  amount_ = amount;
}

void Dispenser::SetTotals(int nozzle, NozzleTotals totals) {
  totals.volume %= kVolumeTotalModulus;
  totals.amount %= kAmountTotalModulus;
  totals_.at(std::size_t(nozzle - 1)) = totals;
}

DispenserSnapshot Dispenser::Snapshot() const {
  DispenserSnapshot snapshot;
  snapshot.state = state_;
  snapshot.statusByte = StatusByte();
  snapshot.liftedNozzle = lifted_;
  snapshot.prices = prices_;
  snapshot.authorization = authorization_;
  snapshot.fillNozzle = fillNozzle_;
  snapshot.volume = volume_;
  snapshot.amount = amount_;
  snapshot.totals = totals_;
  snapshot.sales = sales_;
  return snapshot;
}

}  // namespace quorlan::sim
