#include "Fault.h"

#include <array>
#include <utility>

#include "Requests.h"

namespace quorlan::sim {
namespace {

constexpr std::array<std::pair<FaultKind, std::string_view>, 6> kNames{{
    {FaultKind::NoReply, "noreply"},
    {FaultKind::WrongComplement, "complement"},
    {FaultKind::ShortReply, "short"},
    {FaultKind::BadDigit, "digit"},
    {FaultKind::LateReply, "late"},
    {FaultKind::StatusByte, "status"},
}};

}  // namespace

std::string_view FaultName(FaultKind kind) {
  for (const auto& [k, name] : kNames) {
    if (k == kind) return name;
  }
  return "?";
}

std::optional<FaultKind> ParseFault(std::string_view name) {
  for (const auto& [kind, known] : kNames) {
    if (EqualsIgnoringCase(known, name)) return kind;
  }
  return std::nullopt;
}

}  // namespace quorlan::sim
