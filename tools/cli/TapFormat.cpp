// SPDX-License-Identifier: Apache-2.0
#include "TapFormat.h"

#include <fmt/format.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "Hex.h"

namespace quorlan::cli::tap {

namespace {

// Local wall-clock time with milliseconds.
std::string ClockTime(Micros time) {
  const std::time_t seconds = time / 1'000'000;
  std::tm local{};
  localtime_r(&seconds, &local);
  return fmt::format("{:02}:{:02}:{:02}.{:03}", local.tm_hour, local.tm_min, local.tm_sec,
                     (time % 1'000'000) / 1000);
}

std::string Joined(const std::vector<Field>& fields) {
  std::string text;
  for (const auto& [name, value] : fields) {
    if (!text.empty()) text += ", ";
    text += name + " " + value;
  }
  return text;
}

double Milliseconds(Micros span) {
  return static_cast<double>(span) / 1000;
}

// From the request's first byte to the reply's first byte.
Micros ReplyDelay(const Exchange& exchange) {
  return exchange.replyTime - exchange.requestTime;
}

std::string VerdictText(const Exchange& exchange) {
  switch (exchange.verdict) {
    case Verdict::Valid:
      return fmt::format("valid reply after {:.1f} ms", Milliseconds(ReplyDelay(exchange)));
    case Verdict::NoReply:
      return "no reply";
    case Verdict::Short:
      return fmt::format("short reply, {} of {} bytes", exchange.reply.size(),
                         exchange.ExpectedReply());
    case Verdict::BrokenComplement:
      return fmt::format("broken complement in reply pair {} ({})", exchange.brokenPair,
                         HexBytes(exchange.reply));
  }
  return {};
}

std::string ExchangeText(const Exchange& exchange) {
  auto text = fmt::format("{} dispenser {} {}", ClockTime(exchange.requestTime), exchange.dispenser,
                          exchange.kind->name);
  const auto fields = Joined(RequestFields(*exchange.kind, exchange.RequestInfo()));
  if (!fields.empty()) text += " (" + fields + ")";
  text += ": " + VerdictText(exchange);
  if (exchange.verdict == Verdict::Valid) {
    const auto replyFields = Joined(ReplyFields(*exchange.kind, exchange.ReplyInfo()));
    if (!replyFields.empty()) text += "; " + replyFields;
  }
  return text;
}

nlohmann::json FieldObject(const std::vector<Field>& fields) {
  auto object = nlohmann::json::object();
  for (auto [name, value] : fields) {
    std::replace(name.begin(), name.end(), ' ', '_');
    object[name] = value;
  }
  return object;
}

}  // namespace

std::string VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Valid:
      return "valid";
    case Verdict::NoReply:
      return "no reply";
    case Verdict::Short:
      return "short";
    case Verdict::BrokenComplement:
      return "broken complement";
  }
  return {};
}

std::string TextLine(const Event& event) {
  if (const auto* exchange = std::get_if<Exchange>(&event)) return ExchangeText(*exchange);
  const auto& noise = std::get<Noise>(event);
  return fmt::format("{} noise: {} bytes: {}", ClockTime(noise.time), noise.bytes.size(),
                     HexBytes(noise.bytes));
}

std::string JsonLine(const Event& event) {
  nlohmann::json line;
  if (const auto* exchange = std::get_if<Exchange>(&event)) {
    line["time_us"] = exchange->requestTime;
    line["dispenser"] = exchange->dispenser;
    line["request"] = exchange->kind->name;
    line["fields"] = FieldObject(RequestFields(*exchange->kind, exchange->RequestInfo()));
    line["request_bytes"] = HexBytes(exchange->request);
    line["reply"] = VerdictName(exchange->verdict);
    line["reply_bytes"] = HexBytes(exchange->reply);
    if (!exchange->reply.empty()) line["reply_ms"] = Milliseconds(ReplyDelay(*exchange));
    if (exchange->verdict == Verdict::BrokenComplement) line["broken_pair"] = exchange->brokenPair;
    if (exchange->verdict == Verdict::Valid) {
      line["reply_fields"] = FieldObject(ReplyFields(*exchange->kind, exchange->ReplyInfo()));
    }
  } else {
    const auto& noise = std::get<Noise>(event);
    line["time_us"] = noise.time;
    line["noise"] = HexBytes(noise.bytes);
  }
  return line.dump();
}

}  // namespace quorlan::cli::tap
