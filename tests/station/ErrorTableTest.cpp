// Every error of the API's table, each with its problem body.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "ServiceFixture.h"
#include "sim/Fault.h"

namespace quorlan::testing {
namespace {

struct ErrorCase {
  const char* what;
  const char* method;
  std::string path;
  std::string secret;
  std::string body;
  int status;
};

constexpr std::string_view kPrices =
    R"([{"channel":1,"dispenser":1,"grade":1,"price":52.90},
        {"channel":1,"dispenser":1,"grade":2,"price":54.90},
        {"channel":1,"dispenser":1,"grade":3,"price":58.90},
        {"channel":1,"dispenser":1,"grade":4,"price":61.90},
        {"channel":1,"dispenser":2,"grade":1,"price":52.90}])";

void ExpectProblem(const Reply& reply, int status, const std::string& what) {
  EXPECT_EQ(reply.status, status) << what << ": " << reply.body.dump();
  EXPECT_EQ(reply.body["status"], status) << what;
  for (const char* field : {"type", "title", "detail"}) {
    EXPECT_TRUE(reply.body[field].is_string()) << what << ": " << field;
  }
}

// A raw connection that asks for the event stream and keeps it open.
int OpenStream(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request =
      "GET /api/v1/events HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + kViewSecret + "\r\n\r\n";
  EXPECT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  char first = 0;
  EXPECT_EQ(::read(fd, &first, 1), 1);  // the stream has begun
  return fd;
}

TEST(StationApi, AnswersEveryErrorOfTheTable) {
  ServiceFixture station({.dispensers = 2, .autoNozzle = false});
  station.StartService();
  ASSERT_EQ(station.Call("PUT", "/api/v1/prices", kAdminSecret, std::string(kPrices)).status, 200);
  for (const char* d : {"/api/v1/dispensers/1/1", "/api/v1/dispensers/1/2"}) {
    station.WaitFor(d, [](const auto& view) { return view["state"] == "idle"; });
  }
  ASSERT_EQ(
      station.Call("POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret, R"({"grade":1})")
          .status,
      200);
  const std::string authorize2 = "/api/v1/dispensers/1/2/authorize";

  const std::vector<ErrorCase> cases = {
      {"malformed JSON", "POST", authorize2, kOperateSecret, R"({"grade":)", 400},
      {"wrong type", "POST", authorize2, kOperateSecret, R"({"grade":"1"})", 400},
      {"unknown field", "POST", authorize2, kOperateSecret, R"({"grade":1,"litres":5})", 400},
      {"grade out of range", "POST", authorize2, kOperateSecret, R"({"grade":9})", 400},
      {"two limits", "POST", authorize2, kOperateSecret, R"({"grade":1,"volume":5,"amount":5})",
       400},
      {"limit of zero", "POST", authorize2, kOperateSecret, R"({"grade":1,"amount":0})", 400},
      {"three decimals", "PUT", "/api/v1/prices", kAdminSecret,
       R"([{"channel":1,"dispenser":1,"grade":1,"price":52.901}])", 400},
      {"unknown dispenser in prices", "PUT", "/api/v1/prices", kAdminSecret,
       R"([{"channel":1,"dispenser":9,"grade":1,"price":52.90}])", 400},
      {"too many fills asked", "GET", "/api/v1/fills?limit=5000", kViewSecret, "", 400},
      {"no token", "GET", "/api/v1/dispensers", "", "", 401},
      {"wrong token", "GET", "/api/v1/dispensers", "wrong-secret-0123456789", "", 401},
      {"view authorizes", "POST", authorize2, kViewSecret, R"({"grade":1})", 403},
      {"operate sets prices", "PUT", "/api/v1/prices", kOperateSecret, "[]", 403},
      {"unknown route", "GET", "/api/v1/nothing", kViewSecret, "", 404},
      {"unknown dispenser", "GET", "/api/v1/dispensers/1/9", kViewSecret, "", 404},
      {"unknown fill", "GET", "/api/v1/fills/999", kViewSecret, "", 404},
      {"authorized already", "POST", "/api/v1/dispensers/1/1/authorize", kOperateSecret,
       R"({"grade":1})", 409},
      {"grade without price", "POST", authorize2, kOperateSecret, R"({"grade":2})", 409},
      {"body over 64 KiB", "PUT", "/api/v1/prices", kAdminSecret, std::string(70 * 1024, ' '), 413},
  };
  for (const auto& c : cases) {
    ExpectProblem(station.Call(c.method, c.path, c.secret, c.body), c.status, c.what);
  }
  // A price error stores nothing.
  EXPECT_EQ(station.Get("/api/v1/prices").body.size(), 5u);

  // The dispenser does not acknowledge.
  const sim::Fault lost{.kind = sim::FaultKind::NoReply, .persistent = true};
  station.Line().InjectFault(2, sim::Request::Authorize, lost);
  ExpectProblem(station.Call("POST", authorize2, kOperateSecret, R"({"grade":1})"), 502,
                "no acknowledgement");
  station.Line().ClearFaults(2);

  // One stream more than the limit.
  std::vector<int> streams;
  for (int i = 0; i < 64; ++i) streams.push_back(OpenStream(station.Port()));
  ExpectProblem(station.Get("/api/v1/events"), 503, "65th stream");
  for (int fd : streams) ::close(fd);

  // The line is gone.
  station.RemoveLine();
  // Degraded is 503, so that a load balancer or a monitor needs no body.
  EXPECT_TRUE(station.WaitUntil([&] {
    const Reply health = station.Get("/api/v1/health");
    return health.status == 503 && health.body["status"] == "degraded";
  }));
  ExpectProblem(station.Call("POST", "/api/v1/dispensers/1/2/stop", kOperateSecret), 503,
                "line down");
}

}  // namespace
}  // namespace quorlan::testing

namespace quorlan::testing {
namespace {

TEST(StationApi, ServesEveryRouteOfItsOpenApiDocument) {
  ServiceFixture station({.dispensers = 1});
  station.StartService();
  const Reply document = station.Get("/api/v1/openapi.json");
  ASSERT_EQ(document.status, 200);
  int routes = 0;
  for (const auto& [path, item] : document.body["paths"].items()) {
    if (path == "/events") continue;  // a stream: the other tests read it
    const std::string url =
        "/api/v1" + std::regex_replace(path, std::regex(R"(\{(c|d|n|id)\})"), "1");
    for (const auto& [method, operation] : item.items()) {
      if (method == "parameters") continue;
      std::string verb = method;
      std::transform(verb.begin(), verb.end(), verb.begin(), ::toupper);
      const Reply reply = station.Call(verb, url, kViewSecret, "{}");
      const bool unknown = reply.status == 404 && reply.body["detail"].get<std::string>().rfind(
                                                      "no such resource", 0) == 0;
      EXPECT_FALSE(unknown) << verb << " " << url;
      // Everything that changes something needs more than the view role.
      if (verb != "GET") {
        EXPECT_EQ(reply.status, 403) << verb << " " << url;
      }
      ++routes;
    }
  }
  EXPECT_EQ(routes, 19);
}

}  // namespace
}  // namespace quorlan::testing
