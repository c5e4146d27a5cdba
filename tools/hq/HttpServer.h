// SPDX-License-Identifier: Apache-2.0
#pragma once
// The API on cpp-httplib: the only file that knows the HTTP library.

#include <memory>
#include <string>
#include <thread>

#include "Api.h"

namespace httplib {
class Server;
}

namespace quorlan::hq {

class HttpServer {
 public:
  explicit HttpServer(Api& api);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Port 0 takes a free one; the port listened on, or -1.
  int Listen(const std::string& host, int port);
  void Stop();

 private:
  Api& api_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
};

}  // namespace quorlan::hq
