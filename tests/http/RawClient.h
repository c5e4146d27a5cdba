// SPDX-License-Identifier: Apache-2.0
#pragma once
// A client on a bare socket, so tests can misbehave as no HTTP library lets
// them: trickle bytes, stop halfway, never read. Every wait has a deadline.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorlan::http::test {

using namespace std::chrono_literals;

struct RawReply {
  unsigned status = 0;  // 0: the connection closed (or the time ran out) first
  std::string head;
  std::string body;
  // The value of header `name` (any case); empty when absent.
  std::string Header(std::string_view name) const;
  bool Has(std::string_view name) const;
};

class RawClient {
 public:
  // Connects to 127.0.0.1:port from `local`: another loopback address is another client.
  explicit RawClient(std::uint16_t port, const std::string& local = "127.0.0.1");
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Send(std::string_view bytes);
  // One answer: its head and, when it has a Content-Length, its body. 1xx
  // interim answers are skipped; a stream's head comes back without a body.
  RawReply Read(std::chrono::milliseconds limit = 10s);
  // The answer to a HEAD: its head alone, whatever its Content-Length says.
  RawReply ReadHead(std::chrono::milliseconds limit = 10s);
  // Reads until `text` has arrived, keeping what follows it.
  bool ReadUntil(std::string_view text, std::chrono::milliseconds limit = 10s);
  // True once the server has closed the connection; what it sends is dropped.
  bool WaitClosed(std::chrono::milliseconds limit = 10s);
  bool Connected() const { return fd_ >= 0; }

 private:
  // Appends what arrives within the limit; false when closed or out of time.
  bool Fill(std::chrono::steady_clock::time_point deadline);
  RawReply ReadAnswer(std::chrono::milliseconds limit, bool body);

  int fd_ = -1;
  std::string buffer_;
};

}  // namespace quorlan::http::test
