// SPDX-License-Identifier: Apache-2.0
#include "station/router/Reply.h"

#include "station/format/JsonViews.h"

namespace quorlan::station {

namespace {

constexpr std::string_view kProblemJson = "application/problem+json";

}  // namespace

const http::Headers kApiHeaders{{"Cache-Control", "no-store"}};

std::string_view StatusTitle(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 413:
      return "Payload Too Large";
    case 422:
      return "Unprocessable Content";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return status >= 500 ? "Internal Server Error" : "Error";
  }
}

void WriteBody(http::Answer& answer, unsigned status, std::string_view contentType,
               std::string body, http::Headers headers) {
  headers.emplace_back("Content-Type", std::string(contentType));
  answer.Respond(status, std::move(headers), std::move(body));
}

void WriteProblem(http::Answer& answer, int status, const std::string& detail,
                  http::Headers headers) {
  using nlohmann::json;
  const json body{{"type", "about:blank"},
                  {"title", StatusTitle(status)},
                  {"status", status},
                  {"detail", detail}};
  // The detail may quote a client's bytes, which need not be UTF-8.
  WriteBody(answer, static_cast<unsigned>(status), kProblemJson,
            body.dump(-1, ' ', false, json::error_handler_t::replace), std::move(headers));
}

void WriteJson(http::Answer& answer, const nlohmann::json& body, unsigned status) {
  WriteBody(answer, status, kJson, body.dump());
}

void Reply(http::Answer& answer, const CommandResult& result) {
  switch (result.outcome) {
    case Outcome::Done:
      return WriteJson(answer, PayloadJson(result.body));
    case Outcome::Refused:
      throw Problem{409, result.detail};
    case Outcome::NoAck:
      throw Problem{502, result.detail};
    case Outcome::LineDown:
    case Outcome::Unavailable:
      throw Problem{503, result.detail};
  }
}

}  // namespace quorlan::station
