#include "FaultSpec.h"

#include <fmt/format.h>

#include <charconv>
#include <vector>

#include "Arguments.h"
#include "ExitCodes.h"

namespace quorlan::cli {

namespace {

std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const auto end = text.find(':', start);
    fields.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

std::optional<int> Number(std::string_view text, int base = 10) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return {};
  return value;
}

}  // namespace

FaultSpec ParseFaultSpec(std::string_view text, int dispensers) {
  const auto fail = [&](std::string_view reason) {
    return UsageError(fmt::format("fault {}: {}", Shown(text), reason));
  };
  auto fields = Fields(text);
  FaultSpec spec;
  spec.fault.persistent = true;
  if (fields.size() >= 4 && sim::EqualsIgnoringCase(fields.back(), "once")) {
    spec.fault.persistent = false;
    fields.pop_back();
  }
  if (fields.size() < 3 || fields.size() > 4) throw fail("expected D:REQUEST:KIND[:VALUE][:once]");
  const auto dispenser = Number(fields[0]);
  if (!dispenser || *dispenser < 1 || *dispenser > dispensers) {
    throw fail(fmt::format("the dispenser is 1..{}", dispensers));
  }
  spec.dispenser = *dispenser;
  const auto request = sim::ParseRequest(fields[1]);
  if (!request) throw fail("unknown request (" + FaultHelp() + ")");
  spec.request = *request;
  const auto kind = sim::ParseFault(fields[2]);
  if (!kind) throw fail("unknown kind (" + FaultHelp() + ")");
  spec.fault.kind = *kind;
  if (fields.size() == 4) {
    const bool hex = *kind == sim::FaultKind::StatusByte;
    const auto value = Number(fields[3], hex ? 16 : 10);
    if (!value || *value < 0 || (hex && *value > 0xFF)) throw fail("the value is not a number");
    if (*kind == sim::FaultKind::ShortReply) {
      spec.fault.length = *value;
    } else if (*kind == sim::FaultKind::LateReply) {
      spec.fault.delay = std::chrono::milliseconds(*value);
    } else if (hex) {
      spec.fault.statusByte = static_cast<std::uint8_t>(*value);
    } else {
      throw fail("this kind takes no value");
    }
  } else if (*kind == sim::FaultKind::StatusByte) {
    throw fail("give the status byte in hex, as 3:status:status:2F");
  }
  return spec;
}

std::string Describe(const FaultSpec& spec) {
  return fmt::format("dispenser {}: {} requests get {}{}", spec.dispenser,
                     sim::RequestName(spec.request), sim::FaultName(spec.fault.kind),
                     spec.fault.persistent ? ", every time" : ", once");
}

std::string FaultHelp() {
  return "requests: status substatus release stop prices price1 authorize preset totals; "
         "kinds: noreply, complement, short[:BYTES kept], digit, late[:MS], status:HEX";
}

}  // namespace quorlan::cli
