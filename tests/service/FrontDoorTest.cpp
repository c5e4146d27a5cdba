// SPDX-License-Identifier: Apache-2.0
// The front door through the process: a body-less POST as curl sends it,
// clients that trickle from one address while another is served, 405 with
// Allow, line and column of malformed JSON, the security headers, one
// service per address, and tokens re-read on SIGHUP.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>

#include "ServiceHarness.h"

extern char** environ;

namespace quorlan::service_test {
namespace {

std::string Get(const std::string& path, const std::string& secret) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
         (secret.empty() ? "" : "Authorization: Bearer " + secret + "\r\n") + "\r\n";
}

std::string HeaderOf(const RawAnswer& answer, const std::string& name) {
  std::smatch match;
  const std::regex line("\r\n" + name + ": ([^\r]*)", std::regex::icase);
  return std::regex_search(answer.head, match, line) ? match[1].str() : std::string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A connection from `source` (a loopback address); -1 when refused.
int Connect(int port, const char* source) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  ::inet_pton(AF_INET, source, &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(std::uint16_t(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The answer's head on `fd` after `request`; empty when the connection ended first.
std::string Exchange(int fd, const std::string& request) {
  (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return ReadAnswer(fd, true);
}

// True once the peer has closed `fd` (what it sent before is read and dropped).
bool Closed(int fd) {
  return WaitFor([fd] {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) return false;
    char buffer[4096];
    return ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) == 0;
  });
}

TEST(ServiceFrontDoor, AnswersAsTheContractSays) {
  TempFolder dir;
  Service service(dir, WriteConfig(dir, nullptr, 1, 2));
  const std::string operate = SecretOf("operate");
  const std::string view = SecretOf("view");
  struct Case {
    std::string name;
    std::string request;
    int status;
    std::vector<std::pair<std::string, std::string>> headers;  // a header and a part of it
    std::string body;                                          // a part of the body
  };
  const std::string bodyless =
      " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nAuthorization: Bearer " + operate +
      "\r\n\r\n";
  const std::string broken = R"({"grade":)";
  const std::vector<Case> cases{
      // curl -X POST sends neither a body nor Content-Length.
      {"body-less stop", "POST /api/v1/stop" + bodyless, 200, {}, "dispensers"},
      {"body-less dispenser stop", "POST /api/v1/dispensers/1/1/stop" + bodyless, 200, {}, ""},
      {"wrong method",
       "DELETE /api/v1/prices" + bodyless,
       405,
       {{"Allow", "GET"}, {"Allow", "PUT"}},
       ""},
      {"wrong method without a token",
       "DELETE /api/v1/prices HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
       401,
       {{"WWW-Authenticate", "Bearer"}},
       ""},
      {"unknown path without a token", Get("/api/v1/nothing", ""), 401, {}, ""},
      {"malformed JSON",
       "POST /api/v1/dispensers/1/1/authorize HTTP/1.1\r\nHost: x\r\nConnection: "
       "close\r\nAuthorization: Bearer " +
           operate + "\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(broken.size()) + "\r\n\r\n" + broken,
       400,
       {},
       "line 1, column 10"},
      {"API answer",
       Get("/api/v1/dispensers", view),
       200,
       {{"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"}},
       ""},
      {"health without a token",
       Get("/api/v1/health", ""),
       200,
       {{"Cache-Control", "no-store"}},
       R"("link":"ok")"},
      {"the page",
       Get("/", ""),
       200,
       {{"Content-Security-Policy", "frame-ancestors 'none'"},
        {"Content-Security-Policy", "script-src 'self'"},
        {"X-Content-Type-Options", "nosniff"}},
       "<html"},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    const RawAnswer answer = RawExchange(service.Port(), item.request);
    EXPECT_EQ(answer.status, item.status) << answer.head << "\n" << answer.body;
    EXPECT_FALSE(HeaderOf(answer, "Date").empty()) << answer.head;
    for (const auto& [name, part] : item.headers) {
      EXPECT_NE(HeaderOf(answer, name).find(part), std::string::npos) << name << " in\n"
                                                                      << answer.head;
    }
    EXPECT_NE(answer.body.find(item.body), std::string::npos) << answer.body;
    EXPECT_EQ(answer.body.find("json.exception"), std::string::npos) << answer.body;
  }
}

TEST(ServiceFrontDoor, HeadGivesEveryGetsHeadAndNoBody) {
  TempDir dir;
  Service service(dir, WriteConfig(dir, nullptr, 1, 2));
  const std::string view = SecretOf("view");
  struct Case {
    const char* path;
    bool fixed;  // the same body every time, so the same length
  };
  for (const Case& item : {Case{"/", true}, Case{"/api/v1/nothing", true},
                           Case{"/api/v1/session", true}, Case{"/api/v1/dispensers", false}}) {
    SCOPED_TRACE(item.path);
    std::string head = Get(item.path, view);
    head.replace(0, 3, "HEAD");
    const RawAnswer get = RawExchange(service.Port(), Get(item.path, view));
    const RawAnswer answer = RawExchange(service.Port(), head);
    EXPECT_EQ(answer.status, get.status) << answer.head;
    EXPECT_EQ(answer.body, "");
    EXPECT_FALSE(HeaderOf(answer, "Content-Length").empty()) << answer.head;
    if (item.fixed) {
      EXPECT_EQ(HeaderOf(answer, "Content-Length"), HeaderOf(get, "Content-Length"));
    }
    for (const char* name : {"Content-Type", "Cache-Control", "Content-Security-Policy"}) {
      EXPECT_EQ(HeaderOf(answer, name), HeaderOf(get, name)) << name;
    }
  }
}

TEST(ServiceFrontDoor, ABodyThatIsNotFramedSoundlyIsNeverRunAsARequest) {
  TempDir dir;
  Service service(dir, WriteConfig(dir, nullptr, 1, 2));
  const std::string operate = SecretOf("operate");
  const std::string hidden = Get("/api/v1/session", operate);
  for (const std::string& framing : {std::string("Transfer-Encoding: xchunked\r\n"),
                                     std::string("Transfer-Encoding: identity\r\n"),
                                     "Transfer-Encoding: chunked, identity\r\nContent-Length: " +
                                         std::to_string(hidden.size()) + "\r\n"}) {
    SCOPED_TRACE(framing);
    const RawAnswer answer = RawExchange(
        service.Port(),
        "POST /api/v1/dispensers/1/1/stop HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + operate +
            "\r\n" + framing + "\r\n" + hidden);
    EXPECT_EQ(answer.status, 400) << answer.head;
    EXPECT_NE(answer.head.find("\r\nConnection: close"), std::string::npos) << answer.head;
    // The connection closed after the one answer.
    EXPECT_EQ(answer.body.find("HTTP/1.1"), std::string::npos) << answer.body;
  }
}

TEST(ServiceFrontDoor, AClientAtItsLimitShutsNobodyElseOut) {
  TempFolder dir;
  const std::string config = WriteConfig(dir, nullptr, 1, 1);
  std::string text = ReadFile(config);
  const std::string limit = "max_connections_per_client = 200";
  text.replace(text.find(limit), limit.size(), "max_connections_per_client = 4");
  std::ofstream(config) << text;
  Service service(dir, config);
  // Four connections that send a few bytes of a head and then nothing.
  std::vector<int> trickling;
  for (int i = 0; i < 4; ++i) {
    const int fd = Connect(service.Port(), "127.0.0.1");
    ASSERT_GE(fd, 0);
    (void)::send(fd, "GET /api/v1/he", 14, MSG_NOSIGNAL);
    trickling.push_back(fd);
  }
  // A fifth from the same address is told to come back, and closed.
  const int fifth = Connect(service.Port(), "127.0.0.1");
  ASSERT_GE(fifth, 0);
  const std::string refused = Exchange(fifth, Get("/api/v1/health", ""));
  EXPECT_EQ(refused.rfind("HTTP/1.1 503", 0), 0u) << refused;
  EXPECT_NE(refused.find("\r\nRetry-After: 1\r\n"), std::string::npos) << refused;
  EXPECT_TRUE(Closed(fifth));
  ::close(fifth);
  // Another address is answered meanwhile.
  const int other = Connect(service.Port(), "127.0.0.2");
  ASSERT_GE(other, 0);
  EXPECT_EQ(Exchange(other, Get("/api/v1/dispensers", SecretOf("view"))).rfind("HTTP/1.1 200", 0),
            0u);
  ::close(other);
  for (int fd : trickling) ::close(fd);
}

// `quorlan serve` on an address another holds: its exit code and standard error.
std::pair<int, std::string> ServeOnce(const TempFolder& dir, const std::string& config) {
  const std::string errors = dir.File("second.err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> args{QUORLAN_CLI_PATH, "serve", "--config", config};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return {-1, "cannot start"};
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFile(errors)};
}

TEST(ServiceFrontDoor, ASecondServiceOnTheSameAddressExitsOne) {
  TempFolder dir;
  Service first(dir, WriteConfig(dir, nullptr, 1, 1));
  TempFolder other;
  const std::string config = WriteConfig(other, nullptr, 1, 1);
  std::string text = ReadFile(config);
  text.replace(text.find("127.0.0.1:0"), 11, "127.0.0.1:" + std::to_string(first.Port()));
  std::ofstream(config) << text;
  const auto [code, errors] = ServeOnce(other, config);
  EXPECT_EQ(code, 1);
  EXPECT_NE(errors.find("address in use"), std::string::npos) << errors;
  // The first still answers with its own tokens.
  EXPECT_EQ(RawExchange(first.Port(), Get("/api/v1/dispensers", SecretOf("view"))).status, 200);
}

TEST(ServiceFrontDoor, HangUpRereadsTheTokensAndClosesAWithdrawnTokensStreams) {
  TempFolder dir;
  const std::string config = WriteConfig(dir, nullptr, 1, 1);
  Service service(dir, config);
  const std::string view = SecretOf("view");
  const std::string till = "till-2-secret-0123456789abcdef";
  EXPECT_EQ(RawExchange(service.Port(), Get("/api/v1/dispensers", till)).status, 401);

  // A stream of the token about to go, and one of a token that stays.
  const int withdrawn = Connect(service.Port(), "127.0.0.1");
  const int staying = Connect(service.Port(), "127.0.0.1");
  ASSERT_GE(withdrawn, 0);
  ASSERT_GE(staying, 0);
  EXPECT_EQ(Exchange(withdrawn, Get("/api/v1/events", view)).rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(Exchange(staying, Get("/api/v1/events", SecretOf("admin"))).rfind("HTTP/1.1 200", 0),
            0u);

  // The view token withdrawn, a till added, and a setting that needs a restart.
  std::string text = ReadFile(config);
  text.replace(text.find(view), view.size(), "replaced-secret-0123456789abcdef");
  text = "unpaid_limit = 3\n" + text + "[[token]]\nname = \"till-2\"\nsecret = \"" + till +
         "\"\nrole = \"operate\"\n";
  std::ofstream(config) << text;
  ::kill(service.Pid(), SIGHUP);

  EXPECT_TRUE(WaitFor(
      [&] { return RawExchange(service.Port(), Get("/api/v1/dispensers", till)).status == 200; }));
  EXPECT_EQ(RawExchange(service.Port(), Get("/api/v1/dispensers", view)).status, 401);
  EXPECT_TRUE(Closed(withdrawn));
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile(dir.File("serve.err")).find("'unpaid_limit' changed") != std::string::npos;
  }));
  // The other stream goes on.
  char byte = 0;
  EXPECT_NE(::recv(staying, &byte, 1, MSG_DONTWAIT), 0) << "the stream that stays was closed";
  ::close(withdrawn);
  ::close(staying);
  EXPECT_EQ(service.Terminate(), 0);
}

}  // namespace
}  // namespace quorlan::service_test
