// SPDX-License-Identifier: Apache-2.0
#pragma once
// How a route answers: a body with its type, JSON, or a problem
// (application/problem+json) with its status's title; and how a use case's
// outcome becomes a status. A route throws Problem to end in one.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "station/http/Answer.h"
#include "station/model/Results.h"

namespace quorlan::station {

inline constexpr std::string_view kJson = "application/json";

// A request that ends in a problem answer.
struct Problem {
  int status;
  std::string detail;
};

// "Not Found", "Unprocessable Content", ...: the problem's title.
std::string_view StatusTitle(int status);

// API answers are never stored by a browser or a proxy.
extern const http::Headers kApiHeaders;

void WriteBody(http::Answer& answer, unsigned status, std::string_view contentType,
               std::string body, http::Headers headers = kApiHeaders);
void WriteProblem(http::Answer& answer, int status, const std::string& detail,
                  http::Headers headers = kApiHeaders);
void WriteJson(http::Answer& answer, const nlohmann::json& body, unsigned status = 200);

// The result's payload as JSON when it is done; else throws the Problem of
// its outcome (409 refused, 502 no acknowledgement, 503 line down or
// stopping).
void Reply(http::Answer& answer, const CommandResult& result);

}  // namespace quorlan::station
