// SPDX-License-Identifier: Apache-2.0
#include "RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace quorlan::http::test {

namespace {

sockaddr_in Loopback(const std::string& address, std::uint16_t port) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &where.sin_addr);
  return where;
}

}  // namespace

std::string RawReply::Header(std::string_view name) const {
  std::size_t at = head.find("\r\n");
  while (at != std::string::npos && at + 2 < head.size()) {
    const auto start = at + 2;
    const auto end = head.find("\r\n", start);
    const auto line = std::string_view(head).substr(start, end - start);
    const auto colon = line.find(':');
    if (colon == name.size() && strncasecmp(line.data(), name.data(), name.size()) == 0) {
      auto value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      return std::string(value);
    }
    at = end;
  }
  return {};
}

bool RawReply::Has(std::string_view name) const {
  const std::string needle = "\r\n" + std::string(name) + ":";
  return std::search(head.begin(), head.end(), needle.begin(), needle.end(), [](char a, char b) {
           return std::tolower(a) == std::tolower(b);
         }) != head.end();
}

RawClient::RawClient(std::uint16_t port, const std::string& local) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  const auto from = Loopback(local, 0);
  const auto to = Loopback("127.0.0.1", port);
  if (bind(fd_, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

RawClient::~RawClient() {
  if (fd_ >= 0) close(fd_);
}

bool RawClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const auto sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool RawClient::Fill(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd ready{fd_, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
  char chunk[16384];
  const auto got = recv(fd_, chunk, sizeof chunk, 0);
  if (got <= 0) return false;
  buffer_.append(chunk, static_cast<std::size_t>(got));
  return true;
}

RawReply RawClient::Read(std::chrono::milliseconds limit) {
  return ReadAnswer(limit, true);
}

RawReply RawClient::ReadHead(std::chrono::milliseconds limit) {
  return ReadAnswer(limit, false);
}

RawReply RawClient::ReadAnswer(std::chrono::milliseconds limit, bool body) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!Fill(deadline)) return {};
    }
    RawReply reply;
    reply.head = buffer_.substr(0, end + 2);
    buffer_.erase(0, end + 4);
    if (reply.head.rfind("HTTP/1.1 ", 0) != 0) return {};
    reply.status = static_cast<unsigned>(std::stoul(reply.head.substr(9, 3)));
    if (reply.status < 200) continue;
    const auto length = reply.Header("Content-Length");
    if (length.empty() || !body) return reply;
    const auto size = std::stoul(length);
    while (buffer_.size() < size) {
      if (!Fill(deadline)) return {};
    }
    reply.body = buffer_.substr(0, size);
    buffer_.erase(0, size);
    return reply;
  }
}

bool RawClient::ReadUntil(std::string_view text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::size_t at;
  while ((at = buffer_.find(text)) == std::string::npos) {
    if (!Fill(deadline)) return false;
  }
  buffer_.erase(0, at + text.size());
  return true;
}

bool RawClient::WaitClosed(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 1))) <= 0) return false;
    char chunk[16384];
    const auto got = recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) return true;
  }
  return false;
}

}  // namespace quorlan::http::test
