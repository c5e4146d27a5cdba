// SPDX-License-Identifier: Apache-2.0
#pragma once
// Head office's HTTP API, apart from any HTTP library: a request in, an
// answer out. Same rules as the station's: Bearer tokens, JSON, errors as
// application/problem+json.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "HqConfig.h"
#include "Journal.h"

namespace quorlan::hq {

struct HttpRequest {
  std::string method;
  std::string path;
  std::map<std::string, std::string> query;
  std::string authorization;  // the Authorization header
  std::string body;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
};

class Api {
 public:
  // Hands a price command to the broker; false when it cannot now.
  using SendCommand = std::function<bool(const std::string& station, const std::string& payload)>;
  using BrokerUp = std::function<bool()>;

  Api(std::vector<Token> tokens, Journal& journal, SendCommand send, BrokerUp brokerUp)
      : tokens_(std::move(tokens)),
        journal_(journal),
        send_(std::move(send)),
        brokerUp_(std::move(brokerUp)) {}

  HttpResponse Handle(const HttpRequest& request);

 private:
  HttpResponse Route(const HttpRequest& request, const Token& caller);
  HttpResponse Fills(const HttpRequest& request);
  HttpResponse DayTotals(const HttpRequest& request);
  HttpResponse PushPrices(const HttpRequest& request, const Token& caller);
  const Token* Find(const std::string& authorization) const;

  std::vector<Token> tokens_;
  std::mutex journalMutex_;  // one PostgreSQL connection for every request
  Journal& journal_;
  SendCommand send_;
  BrokerUp brokerUp_;
};

// {"type","title","status","detail"} with its status.
HttpResponse Problem(int status, const std::string& detail);

}  // namespace quorlan::hq
