// Request bodies of the station's API: any bytes as the body of an
// authorization, a price change or a fill query, answered through the real
// routes of a station on a simulated line. Every answer is one the contract
// names (never a 500 or no answer), and a refused price change stores
// nothing.

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "Check.h"
#include "station/api/Api.h"
#include "station/http/StreamRegistry.h"

namespace quorlan::fuzz {
namespace {

struct Service {
  Service() {
    std::string dir = (std::filesystem::temp_directory_path() / "quorlan-fuzz-XXXXXX").string();
    FUZZ_CHECK(::mkdtemp(dir.data()) != nullptr, "no temporary folder");
    station::StationConfig config = station::EmbeddedConfig();
    config.database = dir + "/station.db";
    config.auditLog = "/dev/null";
    secret = config.tokens.front().secret;
    station = std::make_unique<station::Station>(config);
    authenticator = std::make_unique<station::Authenticator>(config.tokens);
    audit = std::make_unique<station::AuditLog>(config.auditLog);
    api = std::make_unique<station::Api>(*station, *authenticator, *audit);
    station->Start();
  }

  std::string secret;
  std::unique_ptr<station::Station> station;
  std::unique_ptr<station::Authenticator> authenticator;
  std::unique_ptr<station::AuditLog> audit;
  std::unique_ptr<station::Api> api;

  // The routes as the front door calls them, without a socket.
  int Answer(const std::string& method, const std::string& target, const std::string& body) {
    http::Request request;
    request.method = method;
    request.target = target;
    const auto question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string::npos) request.query = target.substr(question + 1);
    request.headers = {{"Authorization", "Bearer " + secret}, {"Content-Type", "application/json"}};
    request.body = body;
    request.client = "127.0.0.1";
    http::Answer answer(request, std::make_shared<http::StreamRegistry>(0), 0);
    api->Route(request, answer);
    return answer.Given() ? static_cast<int>(answer.Given()->status) : 0;
  }
};

Service& TheService() {
  static Service* service = new Service();  // lives to the end: workers keep running
  return *service;
}

constexpr const char* kRoutes[][2] = {
    {"POST", "/api/v1/dispensers/1/1/authorize"},
    {"PUT", "/api/v1/prices"},
    {"POST", "/api/v1/dispensers/1/2/authorize"},
    {"GET", "/api/v1/fills?after="},
};

bool ContractStatus(int status) {
  switch (status) {
    case 200:
    case 400:
    case 404:
    case 409:
    case 413:
    case 502:
    case 503:
      return true;
    default:
      return false;
  }
}

}  // namespace
}  // namespace quorlan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorlan::fuzz;
  if (size == 0) return 0;
  Service& service = TheService();
  const auto& route = kRoutes[data[0] % std::size(kRoutes)];
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool query = std::string(route[0]) == "GET";
  const std::string target = std::string(route[1]) + (query ? body : "");
  const auto book = service.station->Journal().prices.All();
  const int status = service.Answer(route[0], target, query ? std::string() : body);
  FUZZ_CHECK(ContractStatus(status), "status %d for %s %s", status, route[0], target.c_str());
  if (status != 200) {
    FUZZ_CHECK(service.station->Journal().prices.All() == book,
               "a refused request changed the book");
  }
  return 0;
}
