#include "Line.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "link/Bcd.h"

namespace quorlan::sim {
namespace {

// Appends the digit pairs 0..count-1 of x, least significant first.
void AppendPairs(Bytes& info, std::int64_t x, int count) {
  for (int k = 0; k < count; ++k) info.push_back(BcdPair(x, k));
}

bool AllDecimal(std::span<const std::uint8_t> bytes) {
  for (auto byte : bytes) {
    if (!IsBcdByte(byte)) return false;
  }
  return true;
}

// A number whose digit pairs arrive least significant first.
std::int64_t FromPairsLowFirst(std::span<const std::uint8_t> pairs) {
  Bytes highFirst(pairs.rbegin(), pairs.rend());
  return BcdToInt(highFirst);
}

// Nozzle 1..8 of a totals selector.
std::optional<int> NozzleOfSelector(std::uint8_t selector) {
  if (selector < kTotalsSelectorBase || selector > kTotalsSelectorBase + 2 * (kLastNozzle - 1) ||
      selector % 2 != 0) {
    return std::nullopt;
  }
  return (selector - kTotalsSelectorBase) / 2 + 1;
}

// Info byte of the reply that holds its first decimal field, if it has one.
std::optional<std::size_t> FirstDigitByte(Request request) {
  if (request == Request::Status) return kStatusAmountByte;
  if (request == Request::Totals) return kTotalsVolumeFirst;
  return std::nullopt;
}

std::optional<std::size_t> StatusByteIndex(Request request) {
  if (request == Request::Status) return kStatusByteIndex;
  if (request == Request::SubStatus) return 0;
  return std::nullopt;
}

Response Deliver(Request request, Bytes info, const std::optional<Fault>& fault) {
  if (fault && fault->kind == FaultKind::StatusByte) {
    if (auto i = StatusByteIndex(request)) info[*i] = fault->statusByte;
  }
  if (fault && fault->kind == FaultKind::BadDigit) {
    if (auto i = FirstDigitByte(request)) info[*i] = std::uint8_t(0xA0 | (info[*i] & 0x0F));
  }
  Response response{Response::Delivery::Now, EncodePairs(info), {}};
  if (!fault) return response;
  switch (fault->kind) {
    case FaultKind::WrongComplement:
      response.bytes.back() ^= 0x01;
      break;
    case FaultKind::ShortReply: {
      const int size = static_cast<int>(response.bytes.size());
      response.bytes.resize(std::size_t(std::clamp(fault->length.value_or(size - 1), 0, size)));
      break;
    }
    case FaultKind::LateReply:
      response.delivery = Response::Delivery::Late;
      response.delay = fault->delay;
      break;
    default:
      break;
  }
  return response;
}

}  // namespace

Clock SteadyClock() {
  return [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
}

Line::Line(LineOptions options) : options_(std::move(options)) {
  if (options_.dispensers < 1 || options_.dispensers > kLastDispenser) {
    throw std::invalid_argument("a line holds 1 to 32 dispensers");
  }
  if (!(options_.flowRate >= 0) || !(options_.volumePerPoll >= 0)) {
    throw std::invalid_argument("the flow rate and the volume per poll cannot be negative");
  }
  for (int d = 0; d < options_.dispensers; ++d) {
    dispensers_[std::size_t(d)].emplace(!options_.startWithoutPrices);
  }
  if (options_.clock) lastClock_ = options_.clock();
}

Dispenser& Line::At(int dispenser) {
  if (dispenser < 1 || dispenser > options_.dispensers) {
    throw std::out_of_range("no dispenser " + std::to_string(dispenser) + " on this line");
  }
  return *dispensers_[std::size_t(dispenser - 1)];
}

void Line::CatchUpClock() {
  if (!options_.clock) return;
  const double now = options_.clock();
  const double elapsed = now - lastClock_;
  lastClock_ = now;
  if (elapsed <= 0) return;
  for (int d = 1; d <= options_.dispensers; ++d) Pour(d, elapsed * options_.flowRate);
}

void Line::Pour(int d, double litres) {
  auto& dispenser = At(d);
  const auto before = dispenser.Volume();
  dispenser.Pour(litres);
  const auto poured = dispenser.Volume() - before;
  if (poured > 0 && pourObserver_) {
    pourObserver_(d, dispenser.FillNozzle(), dispenser.FillGrade(), double(poured) / 100);
  }
}

void Line::SetPourObserver(PourObserver observer) {
  std::lock_guard lock(mutex_);
  pourObserver_ = std::move(observer);
}

Response Line::Answer(std::span<const std::uint8_t> request) {
  std::lock_guard lock(mutex_);
  CatchUpClock();
  const auto info = DecodePairs(request);
  if (!info || info->size() < 2) return {};
  const auto target = DecodeAddress((*info)[0]);
  if (!target || target->dispenser > options_.dispensers) return {};
  const auto kind = ClassifyRequest(target->second, (*info)[1]);
  if (!kind || info->size() != std::size_t(2 + DataBytes(*kind))) return {};

  ++counts_[std::size_t(*kind)];
  const auto fault = TakeFault(target->dispenser, *kind);
  if (fault && fault->kind == FaultKind::NoReply) return {};
  auto reply = Execute(target->dispenser, *kind, *info, (*info)[0]);
  if (!reply) return {};
  return Deliver(*kind, std::move(*reply), fault);
}

std::optional<Bytes> Line::Execute(int d, Request request, const Bytes& info,
                                   std::uint8_t addressByte) {
  auto& dispenser = At(d);
  const std::uint8_t command = info[1];
  const auto data = std::span(info).subspan(2);
  const Bytes acknowledge{command};
  switch (request) {
    case Request::Status: {
      if (options_.autoNozzle) ActAsCustomer(d);
      Pour(d, options_.volumePerPoll);
      if (options_.autoNozzle) EndUnlimitedFill(d);
      Bytes reply{addressByte, command};
      AppendPairs(reply, dispenser.Amount(), 3);
      AppendPairs(reply, dispenser.Volume(), 3);
      reply.push_back(dispenser.StatusByte());
      lastReported_[std::size_t(d - 1)] = dispenser.StatusByte();
      return reply;
    }
    case Request::SubStatus:
      return Bytes{std::uint8_t(dispenser.LiftedNozzle() & kSubStatusNozzleMask)};
    case Request::Release:
      dispenser.Release();
      return acknowledge;
    case Request::Stop:
      dispenser.Stop();
      return acknowledge;
    case Request::PriceTable: {
      // Each price high pair first, sent twice: a mismatch is a garbled request.
      if (!AllDecimal(data)) return std::nullopt;
      std::array<std::int32_t, 4> prices{};
      for (std::size_t g = 0; g < prices.size(); ++g) {
        const auto field = data.subspan(4 * g, 4);
        if (field[0] != field[2] || field[1] != field[3]) return std::nullopt;
        prices[g] = static_cast<std::int32_t>(BcdToInt(field.first(2)));
      }
      dispenser.SetPriceTable(prices);
      return acknowledge;
    }
    case Request::GradeOnePrice:
      if (!AllDecimal(data.first(2))) return std::nullopt;
      dispenser.SetGradeOnePrice(static_cast<std::int32_t>(FromPairsLowFirst(data.first(2))));
      return Bytes{addressByte, command};
    case Request::Authorize:
      if (!dispenser.Authorize(Authorization{.grade = 0, .preset = false})) return std::nullopt;
      return acknowledge;
    case Request::PresetAuthorize: {
      const int grade = data[0];
      if (grade < 1 || grade > kLastGrade || !AllDecimal(data.subspan(1))) return std::nullopt;
      const Authorization authorization{
          .grade = grade,
          .price = static_cast<std::int32_t>(FromPairsLowFirst(data.subspan(1, 2))),
          .moneyLimit = FromPairsLowFirst(data.subspan(3, 3)),
          .volumeLimit = FromPairsLowFirst(data.subspan(6, 3)),
          .preset = true};
      if (!dispenser.Authorize(authorization)) return std::nullopt;
      return Bytes{addressByte, command};
    }
    case Request::Totals: {
      const auto nozzle = NozzleOfSelector(data[0]);
      if (!nozzle) return std::nullopt;
      Bytes reply;
      AppendPairs(reply, dispenser.Totals(*nozzle).volume, 5);
      AppendPairs(reply, dispenser.Totals(*nozzle).amount, 6);
      return reply;
    }
  }
  return std::nullopt;
}

void Line::ActAsCustomer(int d) {
  // The customer acts on what the host has already seen, so every state of
  // the fill shows in at least one poll.
  auto& dispenser = At(d);
  const auto reported = lastReported_[std::size_t(d - 1)];
  if (dispenser.State() == DispenserState::Authorized && reported == status::kAuthorized) {
    const auto authorization = dispenser.Snapshot().authorization;
    const int grade = authorization ? authorization->grade : 0;
    dispenser.Lift(grade >= 1 && grade <= kLastNozzle ? grade : 1);
  } else if (dispenser.State() == DispenserState::Stopped && reported == status::kStopped) {
    dispenser.Hang();
  }
}

void Line::EndUnlimitedFill(int d) {
  auto& dispenser = At(d);
  if (dispenser.State() != DispenserState::Filling) return;
  const auto authorization = dispenser.Snapshot().authorization;
  const bool unlimited = authorization->moneyLimit == 0 && authorization->volumeLimit == 0;
  if (unlimited && dispenser.Volume() >= std::llround(options_.autoFillVolume * 100)) {
    dispenser.Stop();
  }
}

std::optional<Fault> Line::TakeFault(int dispenser, Request request) {
  const auto it = faults_.find({dispenser, request});
  if (it == faults_.end()) return std::nullopt;
  Fault fault = it->second;
  if (!fault.persistent) faults_.erase(it);
  return fault;
}

bool Line::Lift(int dispenser, int nozzle) {
  std::lock_guard lock(mutex_);
  CatchUpClock();
  auto& target = At(dispenser);
  if (nozzle < 1 || nozzle > kLastNozzle)
    throw std::out_of_range("nozzles are 1 to " + std::to_string(kLastNozzle));
  return target.Lift(nozzle);
}

void Line::Hang(int dispenser) {
  std::lock_guard lock(mutex_);
  CatchUpClock();
  At(dispenser).Hang();
}

void Line::PowerCycle(int dispenser) {
  std::lock_guard lock(mutex_);
  CatchUpClock();
  At(dispenser).PowerCycle();
  lastReported_[std::size_t(dispenser - 1)] = 0;
}

void Line::SetAutoNozzle(bool on) {
  std::lock_guard lock(mutex_);
  options_.autoNozzle = on;
}

void Line::Advance(double seconds) {
  std::lock_guard lock(mutex_);
  CatchUpClock();
  if (!(seconds > 0)) return;
  for (int d = 1; d <= options_.dispensers; ++d) Pour(d, seconds * options_.flowRate);
}

void Line::InjectFault(int dispenser, Request request, Fault fault) {
  std::lock_guard lock(mutex_);
  At(dispenser);
  faults_[{dispenser, request}] = fault;
}

void Line::ClearFaults(int dispenser) {
  std::lock_guard lock(mutex_);
  std::erase_if(faults_, [&](const auto& entry) { return entry.first.first == dispenser; });
}

DispenserSnapshot Line::Snapshot(int dispenser) {
  std::lock_guard lock(mutex_);
  CatchUpClock();
  return At(dispenser).Snapshot();
}

void Line::SetTotals(int dispenser, int nozzle, NozzleTotals totals) {
  std::lock_guard lock(mutex_);
  auto& target = At(dispenser);
  if (nozzle < 1 || nozzle > kLastNozzle)
    throw std::out_of_range("nozzles are 1 to " + std::to_string(kLastNozzle));
  if (totals.volume < 0 || totals.amount < 0) {
    throw std::invalid_argument("totals cannot be negative");
  }
  target.SetTotals(nozzle, totals);
}

std::uint64_t Line::Count(Request request) const {
  std::lock_guard lock(mutex_);
  return counts_[std::size_t(request)];
}

}  // namespace quorlan::sim
