// SPDX-License-Identifier: Apache-2.0
#include "station/http/Framing.h"

#include <boost/beast/core/string.hpp>
#include <vector>

namespace quorlan::http {

namespace {

constexpr std::string_view kChunked = "chunked";

}  // namespace

HeadScan::Verdict HeadScan::Scan(std::string_view received) {
  for (; scanned_ < received.size(); ++scanned_) {
    const std::size_t at = scanned_;
    const char byte = received[at];
    const char before = at > 0 ? received[at - 1] : '\0';
    if (byte == '\n') {
      if (before != '\r') {
        fault_ = "a line of the head ends in a bare LF";
        return Verdict::Malformed;
      }
      if (at >= 3 && received.substr(at - 3, 4) == "\r\n\r\n") {
        ++scanned_;
        return Verdict::Whole;
      }
    } else if (before == '\r') {
      fault_ = "a CR in the head is not followed by LF";
      return Verdict::Malformed;
    } else if ((byte == ' ' || byte == '\t') && before == '\n') {
      fault_ = "a header line is folded, which this service does not take";
      return Verdict::Malformed;
    }
  }
  return Verdict::More;
}

std::optional<Response> CheckFraming(const boost::beast::http::request_header<>& head) {
  namespace bhttp = boost::beast::http;
  const auto [first, last] = head.equal_range(bhttp::field::transfer_encoding);
  if (first == last) return std::nullopt;  // a Content-Length or no body; the parser checks those
  std::vector<std::string_view> codings;
  for (auto field = first; field != last; ++field) {
    for (const auto coding : ListItems(field->value())) codings.push_back(coding);
  }
  if (head.version() < 11) {
    return Problem(400, "an HTTP/1.0 request cannot be framed by a Transfer-Encoding");
  }
  if (head.count(bhttp::field::content_length) > 0) {
    return Problem(400, "a request cannot have both a Content-Length and a Transfer-Encoding");
  }
  if (codings.empty() || !boost::beast::iequals(codings.back(), kChunked)) {
    return Problem(400, "the body cannot be framed: chunked is not the last transfer coding");
  }
  codings.pop_back();
  for (const auto coding : codings) {
    if (boost::beast::iequals(coding, kChunked)) {
      return Problem(400, "the body cannot be framed: chunked is applied more than once");
    }
  }
  if (!codings.empty()) {
    return Problem(501, "this service takes no transfer coding but chunked");
  }
  return std::nullopt;
}

}  // namespace quorlan::http
