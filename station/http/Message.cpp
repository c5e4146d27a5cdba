// SPDX-License-Identifier: Apache-2.0
#include "station/http/Message.h"

#include <strings.h>

#include <boost/beast/http/status.hpp>
#include <ostream>

namespace quorlan::http {

namespace {

bool SameName(std::string_view key, std::string_view name) {
  return key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0;
}

}  // namespace

std::string_view FindHeader(const Headers& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return {};
}

bool HasHeader(const Headers& headers, std::string_view name) {
  for (const auto& header : headers) {
    if (SameName(header.first, name)) return true;
  }
  return false;
}

Response Problem(unsigned status, std::string_view detail) {
  const auto title = boost::beast::http::obsolete_reason(boost::beast::http::int_to_status(status));
  std::string body = "{\"type\":\"about:blank\",\"title\":\"";
  body.append(title.data(), title.size());
  body += "\",\"status\":" + std::to_string(status) + ",\"detail\":\"";
  // The details are the front door's own words: no quotes or controls to escape.
  body.append(detail);
  body += "\"}";
  return {status,
          {{"Content-Type", "application/problem+json"}, {"Cache-Control", "no-store"}},
          std::move(body)};
}

}  // namespace quorlan::http
