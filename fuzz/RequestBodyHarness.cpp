// Request bodies of the station's API: any bytes as the body of an
// authorization, a price change or a fill query, answered through the real
// routes of a station on a simulated line. Every answer is one the contract
// names (never a 500 or no answer), and a refused price change stores
// nothing.

#include <httplib.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "Check.h"
#include "station/Api.h"

namespace quorlan::fuzz {
namespace {

// The server's request processing on an in-memory stream, without a socket.
class MemoryServer : public httplib::Server {
 public:
  int Answer(const std::string& request) {
    httplib::detail::BufferStream stream;
    stream.write(request.data(), request.size());
    bool closed = false;
    process_request(stream, true, closed, nullptr);
    const std::string& text = stream.get_buffer();
    if (text.size() < request.size() + 12) return 0;
    return std::atoi(text.c_str() + request.size() + 9);
  }
};

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
    api->Register(server);
    station->Start();
  }

  std::string secret;
  std::unique_ptr<station::Station> station;
  std::unique_ptr<station::Authenticator> authenticator;
  std::unique_ptr<station::AuditLog> audit;
  std::unique_ptr<station::Api> api;
  MemoryServer server;
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
  std::string request = std::string(route[0]) + " " + route[1] + (query ? body : "") +
                        " HTTP/1.1\r\nHost: fuzz\r\nAuthorization: Bearer " + service.secret +
                        "\r\nContent-Type: application/json\r\n";
  if (!query)
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  else
    request += "\r\n";
  const auto book = service.station->Journal().Prices();
  const int status = service.server.Answer(request);
  // A query with bytes that break the request line is refused before routing.
  FUZZ_CHECK(ContractStatus(status) || (query && status == 0), "status %d for %s", status,
             request.c_str());
  if (status != 200) {
    FUZZ_CHECK(service.station->Journal().Prices() == book, "a refused request changed the book");
  }
  return 0;
}
