// Bad input through a real socket: every malformed request gets the
// contract's problem answer, the service keeps serving others meanwhile and
// nothing is stored or sent to a dispenser.

#include <gtest/gtest.h>

#include <set>

#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

constexpr int kDispensers = 2;

std::string Request(const std::string& method, const std::string& path, const std::string& body,
                    const std::string& contentType = "application/json",
                    const std::string& headers = "") {
  return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
         "Authorization: Bearer " + SecretOf("admin") + "\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
}

std::string Authorize(const std::string& body) {
  return Request("POST", "/api/v1/dispensers/1/1/authorize", body);
}

std::string Prices(const std::string& body) {
  return Request("PUT", "/api/v1/prices", body);
}

struct Case {
  std::string name;
  std::string request;
  std::set<int> statuses;
  std::string detail = {};  // the problem's detail, where it matters
};

std::vector<Case> Cases() {
  const std::string price = R"({"channel":1,"dispenser":1,"grade":1,"price":)";
  return {
      {"broken JSON", Authorize(R"({"grade":1)"), {400}},
      {"empty body", Authorize(""), {400}},
      {"not an object", Authorize("[1]"), {400}},
      {"grade as text", Authorize(R"({"grade":"1"})"), {400}},
      {"grade with a fraction", Authorize(R"({"grade":1.5})"), {400}},
      {"grade out of range", Authorize(R"({"grade":9})"), {400}},
      {"huge grade", Authorize(R"({"grade":123456789012345678901234567890})"), {400}},
      {"number beyond a double", Authorize(R"({"grade":1,"volume":1e400})"), {400}},
      {"huge volume", Authorize(R"({"grade":1,"volume":1e300})"), {400}},
      {"negative amount", Authorize(R"({"grade":1,"amount":-5})"), {400}},
      {"three decimals", Authorize(R"({"grade":1,"volume":1.005})"), {400}},
      {"volume and amount", Authorize(R"({"grade":1,"volume":5,"amount":5})"), {400}},
      {"unknown field", Authorize(R"({"grade":1,"nozzle":2})"), {400}},
      {"null grade", Authorize(R"({"grade":null})"), {400}},
      {"not UTF-8", Authorize("{\"grade\":1,\"x\xff\":1}"), {400}},
      {"prices not a list", Prices("{}"), {400}},
      {"price zero", Prices("[" + price + "0}]"), {400}},
      {"price 100", Prices("[" + price + "100}]"), {400}},
      {"price as text", Prices("[" + price + "\"52.9\"}]"), {400}},
      {"price NaN text", Prices("[" + price + "NaN}]"), {400}},
      {"unknown dispenser", Prices(R"([{"channel":1,"dispenser":9,"grade":1,"price":5}])"), {400}},
      {"grade 9", Prices(R"([{"channel":1,"dispenser":1,"grade":9,"price":5}])"), {400}},
      {"price twice", Prices("[" + price + "5}," + price + "6}]"), {400}},
      {"good then bad", Prices("[" + price + "5.5},{\"channel\":1}]"), {400}},
      {"deep nesting", Prices(std::string(10000, '[') + std::string(10000, ']')), {400}},
      // Numbers are judged by their text; a key is given once.
      {"volume limit rounding up",
       Authorize(R"({"grade":1,"volume":9999.985})"),
       {400},
       "'volume' has more than two decimals"},
      {"amount limit at a half",
       Authorize(R"({"grade":1,"amount":4999.995})"),
       {400},
       "'amount' has more than two decimals"},
      {"price close to two decimals",
       Prices("[" + price + "52.899999999}]"),
       {400},
       "'price' has more than two decimals"},
      {"grade twice",
       Authorize(R"({"grade":1,"grade":2})"),
       {400},
       "the key 'grade' is given twice in one object"},
      {"price key twice",
       Prices("[" + price + "5,\"price\":6}]"),
       {400},
       "the key 'price' is given twice in one object"},
      {"malformed JSON placed",
       Authorize("{\"grade\":1,\n\"volume\":}"),
       {400},
       "malformed JSON at line 2, column 10"},
      {"body over 64 KiB", Prices("[" + std::string(70 * 1024, ' ') + "]"), {413}},
      {"form content type",
       Request("PUT", "/api/v1/prices", "a=1", "application/x-www-form-urlencoded"),
       {400}},
      {"multipart content type",
       Request("PUT", "/api/v1/prices", "--x\r\n\r\n--x--\r\n", "multipart/form-data; boundary=x"),
       {400}},
      {"unknown route", Request("GET", "/api/v1/nothing", ""), {404}},
      {"unknown dispenser path", Request("GET", "/api/v1/dispensers/1/99", ""), {404}},
      {"huge path number", Request("GET", "/api/v1/dispensers/1/99999999999999999999", ""), {404}},
      {"unknown fill", Request("GET", "/api/v1/fills/424242", ""), {404}},
      {"bad limit", Request("GET", "/api/v1/fills?limit=100000", ""), {400}},
      // Within the 16 KiB of headers a long path is only an unknown one.
      {"overlong path", Request("GET", "/api/v1/" + std::string(9000, 'a'), ""), {404}},
      {"path past the header limit",
       Request("GET", "/api/v1/" + std::string(17000, 'a'), ""),
       {431}},
      {"overlong header",
       Request("GET", "/api/v1/health", "", "application/json",
               "X-Long: " + std::string(17000, 'h') + "\r\n"),
       {431}},
      {"dot segments", Request("GET", "/../../../../etc/passwd", ""), {400, 404}},
      {"encoded dot segments", Request("GET", "/%2e%2e/%2e%2e/etc/passwd", ""), {400, 404}},
      {"dot segments after an asset",
       Request("GET", "/index.html/../../etc/passwd", ""),
       {400, 404}},
      {"double slash", Request("GET", "//etc/passwd", ""), {400, 404}},
      {"encoded slashes", Request("GET", "/..%2f..%2f..%2fetc%2fpasswd", ""), {400, 404}},
      {"backslashes", Request("GET", "/..\\..\\etc\\passwd", ""), {400, 404}},
  };
}

TEST(ServiceBadInput, EveryMalformedRequestGetsItsProblemWhileOthersAreServed) {
  TempFolder dir;
  Service service(dir, WriteConfig(dir, nullptr, 1, kDispensers));
  auto admin = service.Client("admin");
  SeedPrices(*admin, 1, kDispensers);
  const std::string book = admin->Get("/api/v1/prices")->body;

  std::atomic<bool> running{true};
  std::atomic<int> served{0}, refused{0};
  std::thread other([&] {
    auto view = service.Client("view");
    while (running) {
      const auto answer = view->Get("/api/v1/dispensers");
      ++(answer && answer->status == 200 ? served : refused);
    }
  });
  for (const Case& test : Cases()) {
    SCOPED_TRACE(test.name);
    const RawAnswer answer = RawExchange(service.Port(), test.request);
    EXPECT_TRUE(test.statuses.count(answer.status)) << answer.status << " " << answer.body;
    EXPECT_NE(answer.head.find("application/problem+json"), std::string::npos) << answer.head;
    const json problem = json::parse(answer.body, nullptr, false);
    EXPECT_EQ(problem.value("status", 0), answer.status);
    EXPECT_EQ(answer.body.find("root:"), std::string::npos);
    if (!test.detail.empty()) {
      EXPECT_EQ(problem.value("detail", ""), test.detail);
    }
  }
  running = false;
  other.join();
  EXPECT_GT(served.load(), 0);
  EXPECT_EQ(refused.load(), 0);

  // Nothing stored, nothing sent.
  EXPECT_EQ(admin->Get("/api/v1/prices")->body, book);
  EXPECT_EQ(ReadJournal(*admin).fills, 0u);
  for (int d = 1; d <= kDispensers; ++d) {
    const json view = View(*admin, 1, d);
    EXPECT_EQ(view["state"], "idle");
    EXPECT_TRUE(view["fill_id"].is_null());
  }
  EXPECT_EQ(service.Terminate(), 0);
}

// Headers sent one byte a second: the connection is dropped at the header
// deadline, long before they are complete, and others are served meanwhile.
TEST(ServiceBadInput, HeadersOneByteASecondAreCutOffAtTheDeadline) {
  TempFolder dir;
  Service service(dir, WriteConfig(dir, nullptr, 1, 1));
  // 40 s of headers at this pace; the deadline is 10 s.
  const std::string request = "GET /api/v1/health HTTP/1.1\r\nHost: x\r\nX-Slow: 0123\r\n\r\n";
  std::atomic<bool> done{false};
  RawAnswer slow;
  std::thread slowClient([&] {
    slow = RawExchange(service.Port(), request, false, std::chrono::seconds(1));
    done = true;
  });
  auto view = service.Client("view");
  int served = 0;
  while (!done) {
    const auto answer = view->Get("/api/v1/health");
    EXPECT_TRUE(answer && answer->status == 200);
    ++served;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  slowClient.join();
  EXPECT_NE(slow.status, 200) << "the slow headers were taken whole";
  EXPECT_GT(served, 0);
}

}  // namespace
}  // namespace quorlan::service_test
