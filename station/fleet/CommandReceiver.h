// SPDX-License-Identifier: Apache-2.0
#pragma once
// Price pushes from head office: each command id is applied once however
// often it arrives (the broker redelivers, head office retries), and its
// outcome goes back through the outbox.

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "Sql.h"

namespace quorlan::fleet {

class CommandReceiver {
 public:
  // Given the command's price list ([{"channel","dispenser","grade","price"}]),
  // applies it the way PUT /prices does and answers the per-dispenser
  // outcome. Throwing std::invalid_argument refuses the list.
  using ApplyPrices = std::function<nlohmann::json(const nlohmann::json& prices)>;

  enum class Result { Applied, Repeated, Refused, Unreadable };

  CommandReceiver(Sql& sql, ApplyPrices apply) : sql_(sql), apply_(std::move(apply)) {}

  // A payload of quorlan/v1/{station}/cmd/prices.
  Result Receive(const std::string& payload);

 private:
  bool Known(const std::string& commandId);
  void Record(const std::string& commandId, const nlohmann::json& outcome);

  Sql& sql_;
  ApplyPrices apply_;
};

}  // namespace quorlan::fleet
