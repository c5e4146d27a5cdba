// Access: every route with no token, wrong tokens and each role; only the
// route's role and those above get through, and no secret shows up in an
// answer or in any log of the run.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

struct Route {
  std::string method;
  std::string path;
  std::string body;
  int role;  // 0 view, 1 operate, 2 admin
};

const std::vector<Route>& Routes() {
  static const std::vector<Route> routes{
      {"GET", "/api/v1/dispensers", "", 0},
      {"GET", "/api/v1/dispensers/1/1", "", 0},
      {"POST", "/api/v1/dispensers/1/1/authorize", R"({"grade":1,"volume":1.00})", 1},
      {"POST", "/api/v1/dispensers/1/1/stop", "", 1},
      {"POST", "/api/v1/stop", "", 1},
      {"GET", "/api/v1/prices", "", 0},
      {"PUT", "/api/v1/prices", R"([{"channel":1,"dispenser":1,"grade":1,"price":51.5}])", 2},
      {"GET", "/api/v1/fills", "", 0},
      {"GET", "/api/v1/fills/1", "", 0},
      {"GET", "/api/v1/dispensers/1/1/totals/1", "", 0},
      {"GET", "/api/v1/events", "", 0},
  };
  return routes;
}

std::string Request(const Route& route, const std::string& authorization) {
  std::string text =
      route.method + " " + route.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
  return text +
         "Content-Type: application/json\r\nContent-Length: " + std::to_string(route.body.size()) +
         "\r\n\r\n" + route.body;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(ServiceAccess, OnlyTheRoutesRoleGetsThroughAndNoSecretLeaks) {
  TempFolder dir;
  Service service(dir, WriteConfig(dir, nullptr, 1, 1));
  SeedPrices(*service.Client("admin"), 1, 1);
  const std::string view = SecretOf("view");
  // Near misses of a real secret, and the right secret in the wrong form.
  const std::vector<std::string> wrong{
      "",
      "Bearer",
      "Bearer ",
      "Bearer " + view.substr(0, view.size() - 1),
      "Bearer " + view + "x",
      "bearer " + view,
      "Basic " + view,
      "Bearer  " + view,
      view,
  };
  std::string answers;
  for (const Route& route : Routes()) {
    SCOPED_TRACE(route.method + " " + route.path);
    const bool stream = route.path == "/api/v1/events";
    for (const std::string& authorization : wrong) {
      const RawAnswer answer = RawExchange(service.Port(), Request(route, authorization), stream);
      EXPECT_EQ(answer.status, 401) << "with '" << authorization << "'";
      answers += answer.head + answer.body;
    }
    const char* roles[] = {"view", "operate", "admin"};
    for (int role = 0; role < 3; ++role) {
      const RawAnswer answer =
          RawExchange(service.Port(), Request(route, "Bearer " + SecretOf(roles[role])), stream);
      if (role < route.role) {
        EXPECT_EQ(answer.status, 403) << roles[role];
      } else {
        EXPECT_NE(answer.status, 401) << roles[role];
        EXPECT_NE(answer.status, 403) << roles[role];
        EXPECT_NE(answer.status, 0) << roles[role];
      }
      answers += answer.head + answer.body;
    }
  }
  // Health needs none, and tells no secret.
  const RawAnswer health =
      RawExchange(service.Port(), Request({"GET", "/api/v1/health", "", 0}, ""));
  EXPECT_EQ(health.status, 200);
  answers += health.head + health.body;
  EXPECT_EQ(service.Terminate(), 0);

  std::string logs;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    if (entry.path().extension() == ".log" || entry.path().extension() == ".err") {
      logs += ReadFile(entry.path().string());
    }
  }
  EXPECT_FALSE(logs.empty());
  for (const auto& token : Tokens()) {
    EXPECT_EQ(answers.find(token.secret), std::string::npos) << token.name << " in an answer";
    EXPECT_EQ(logs.find(token.secret), std::string::npos) << token.name << " in a log";
    // Also a long piece of it.
    EXPECT_EQ(logs.find(token.secret.substr(0, 16)), std::string::npos) << token.name;
  }
}

}  // namespace
}  // namespace quorlan::service_test
