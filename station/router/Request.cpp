// SPDX-License-Identifier: Apache-2.0
#include "station/router/Request.h"

#include <algorithm>

#include "station/format/JsonInput.h"

namespace quorlan::station {

using nlohmann::json;

json ParseBody(const Call& call) {
  return ParseRequestBody(call.request.body);
}

void OnlyKeys(const json& object, std::initializer_list<std::string_view> known,
              std::string_view what) {
  if (!object.is_object()) throw Problem{400, std::string(what) + " must be a JSON object"};
  for (const auto& [key, value] : object.items()) {
    if (std::find(known.begin(), known.end(), key) == known.end()) {
      throw Problem{400, "unknown field '" + key + "' in " + std::string(what)};
    }
  }
}

void NoBody(const Call& call, std::string_view what) {
  if (call.request.body.empty()) return;
  OnlyKeys(ParseBody(call), {}, what);
}

int IntegerField(const json& object, const char* key, int low, int high) {
  if (!object.contains(key)) throw Problem{400, std::string("'") + key + "' is missing"};
  const json& value = object.at(key);
  if (!value.is_number_integer())
    throw Problem{400, std::string("'") + key + "' must be an integer"};
  const auto number = value.get<std::int64_t>();
  if (number < low || number > high) {
    throw Problem{400, std::string("'") + key + "' must be " + std::to_string(low) + ".." +
                           std::to_string(high)};
  }
  return static_cast<int>(number);
}

Cents MoneyField(const json& object, const char* key, Cents low, Cents high) {
  const json& value = object.at(key);
  if (!value.is_number()) throw Problem{400, std::string("'") + key + "' must be a number"};
  const auto cents = ExactCents(value.get<double>());
  if (!cents) throw Problem{400, std::string("'") + key + "' has more than two decimals"};
  if (*cents < low || *cents > high) {
    throw Problem{400, std::string("'") + key + "' must be " + json(FromCents(low)).dump() + ".." +
                           json(FromCents(high)).dump()};
  }
  return *cents;
}

Parameters QueryParameters(std::string_view query) {
  const auto decode = [](std::string_view raw) {
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      unsigned byte = 0;
      if (raw[i] == '%' && i + 2 < raw.size() &&
          std::from_chars(raw.data() + i + 1, raw.data() + i + 3, byte, 16).ptr ==
              raw.data() + i + 3) {
        value += static_cast<char>(byte);
        i += 2;
      } else {
        value += raw[i] == '+' ? ' ' : raw[i];
      }
    }
    return value;
  };
  Parameters parameters;
  while (!query.empty()) {
    const auto end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(std::min(end + 1, query.size()));
    if (pair.empty()) continue;
    const auto equals = std::min(pair.find('='), pair.size());
    parameters.emplace(decode(pair.substr(0, equals)),
                       decode(pair.substr(std::min(equals + 1, pair.size()))));
  }
  return parameters;
}

int QueryInteger(const Parameters& parameters, const char* key, int fallback, int low, int high) {
  const auto found = parameters.find(key);
  if (found == parameters.end()) return fallback;
  const auto value = Whole<int>(found->second);
  if (!value || *value < low || *value > high) {
    throw Problem{400, std::string("'") + key + "' must be an integer " + std::to_string(low) +
                           ".." + std::to_string(high)};
  }
  return *value;
}

}  // namespace quorlan::station
