// SPDX-License-Identifier: Apache-2.0
#include "CommandReceiver.h"

#include <stdexcept>

#include "Outbox.h"
#include "Topics.h"

namespace quorlan::fleet {

namespace {

constexpr std::size_t kLongestCommandId = 64;

bool ValidCommandId(const std::string& id) {
  if (id.empty() || id.size() > kLongestCommandId) return false;
  for (const char c : id) {
    if (c < '!' || c > '~') return false;
  }
  return true;
}

}  // namespace

CommandReceiver::Result CommandReceiver::Receive(const std::string& payload) {
  const auto command = nlohmann::json::parse(payload, nullptr, false);
  if (!command.is_object() || !command.contains("command_id") ||
      !command["command_id"].is_string() ||
      !ValidCommandId(command["command_id"].get<std::string>())) {
    // Nothing to answer under: no id to report the refusal with.
    return Result::Unreadable;
  }
  const auto commandId = command["command_id"].get<std::string>();
  if (Known(commandId)) return Result::Repeated;

  nlohmann::json outcome{{"command_id", commandId}};
  Result result = Result::Applied;
  if (command.value("schema", 0) != kSchemaVersion || !command.contains("prices") ||
      !command["prices"].is_array()) {
    outcome["status"] = "refused";
    outcome["detail"] = "expected {\"schema\":1,\"command_id\",\"prices\":[...]}";
    result = Result::Refused;
  } else {
    try {
      outcome["dispensers"] = apply_(command["prices"]);
      outcome["status"] = "applied";
    } catch (const std::invalid_argument& refused) {
      outcome["status"] = "refused";
      outcome["detail"] = refused.what();
      result = Result::Refused;
    }
  }
  Record(commandId, outcome);
  return result;
}

bool CommandReceiver::Known(const std::string& commandId) {
  bool known = false;
  sql_.Query("SELECT 1 FROM fleet_commands WHERE command_id = ?1", {commandId},
             [&](const SqlRow&) { known = true; });
  return known;
}

void CommandReceiver::Record(const std::string& commandId, const nlohmann::json& outcome) {
  // The id and its outcome together: a kill before this commit applies the
  // same prices again on redelivery, which changes nothing.
  SqlTransaction transaction(sql_);
  sql_.Run("INSERT INTO fleet_commands (command_id, received_at) VALUES (?1, ?2)",
           {commandId, UtcNow()});
  Outbox::Add(sql_, Kind::PriceOutcome, commandId, 1, outcome);
  transaction.Commit();
}

}  // namespace quorlan::fleet
