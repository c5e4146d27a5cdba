// SPDX-License-Identifier: Apache-2.0
#pragma once
// What a route reads of its request, each part checked as it is read: the
// path's ids, the JSON body's fields (unknown ones refused) and the query
// string's parameters. Anything wrong throws the Problem a client is told.

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/base/Money.h"
#include "station/http/Message.h"
#include "station/router/Auth.h"
#include "station/router/Reply.h"

namespace quorlan::station {

// What a route sees: the request, the parts its path pattern captures (ids,
// an action) and who asks.
struct Call {
  const http::Request& request;
  std::vector<std::string> captures;
  const Caller& caller;
  // The idempotent request's id (RequestId), when it has a key.
  std::optional<std::string> requestId = std::nullopt;
};

template <typename Integer>
std::optional<Integer> Whole(std::string_view text) {
  Integer value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The path's `index`th id (from 1); anything beyond its type names nothing (404).
template <typename Integer = int>
Integer PathNumber(const Call& call, std::size_t index) {
  const auto value = Whole<Integer>(call.captures.at(index - 1));
  if (!value) throw Problem{404, "no such resource: " + call.request.path};
  return *value;
}

nlohmann::json ParseBody(const Call& call);
// `object` must be a JSON object of no other keys than `known`.
void OnlyKeys(const nlohmann::json& object, std::initializer_list<std::string_view> known,
              std::string_view what);
// A body that must be empty or an empty object.
void NoBody(const Call& call, std::string_view what);
int IntegerField(const nlohmann::json& object, const char* key, int low, int high);
// A number of at most two decimals, in hundredths.
Cents MoneyField(const nlohmann::json& object, const char* key, Cents low, Cents high);

using Parameters = std::multimap<std::string, std::string>;
// A query string's parameters, percent-decoded, '+' read as a space.
Parameters QueryParameters(std::string_view query);
int QueryInteger(const Parameters& parameters, const char* key, int fallback, int low, int high);

}  // namespace quorlan::station
