#include "ServiceFixture.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <thread>

#include "support/Waiting.h"

namespace quorlan::testing {

ServiceFixture::ServiceFixture(sim::LineOptions options, sim::PtyOptions pty) : ptyOptions_(pty) {
  NewLine(options);
}

ServiceFixture::~ServiceFixture() {
  service_.reset();
  pty_.reset();
}

void ServiceFixture::NewLine(sim::LineOptions options) {
  pty_.reset();
  line_ = std::make_shared<sim::Line>(options);
  pty_ = std::make_unique<sim::PtyServer>(line_, ptyOptions_);
  pty_->Start();
}

void ServiceFixture::RemoveLine() {
  pty_.reset();
}

void ServiceFixture::StartService() {
  std::string dispensers;
  for (int d = 1; d <= line_->Dispensers(); ++d) {
    dispensers += (d > 1 ? ", " : "") + std::to_string(d);
  }
  const auto config = directory_.Path() / "station.toml";
  // Every client comes from 127.0.0.1: the per-address limit stands for many clients.
  std::ofstream(config) << extra_.top << "listen = \"127.0.0.1:0\"\n"
                        << "max_connections_per_client = 200\n"
                        << "database = \"" << (directory_.Path() / "station.db").string() << "\"\n"
                        << "audit_log = \"" << (directory_.Path() / "audit.log").string() << "\"\n"
                        << "[[line]]\nchannel = 1\nport = \"" << pty_->SlavePath() << "\"\n"
                        << "dispensers = [" << dispensers << "]\n"
                        << extra_.line << "[[token]]\nname = \"view\"\nrole = \"view\"\nsecret = \""
                        << kViewSecret
                        << "\"\n[[token]]\nname = \"pos-1\"\nrole = \"operate\"\nsecret = \""
                        << kOperateSecret << "\"\n[[token]]\nname = \"office\"\nrole = \"admin\"\n"
                        << "secret = \"" << kAdminSecret << "\"\n"
                        << extra_.tables;
  service_ = std::make_unique<Process>(
      std::vector<std::string>{QUORLAN_CLI_PATH, "serve", "--config", config.string()});
  // The first line is the address: http://127.0.0.1:PORT/
  const std::string address = service_->ReadLine();
  const auto colon = address.rfind(':');
  ASSERT_NE(colon, std::string::npos) << "no address: " << address << service_->Finish().err;
  port_ = std::stoi(address.substr(colon + 1));
}

void ServiceFixture::KillService() {
  service_->Signal(SIGKILL);
  service_->Finish();
  service_.reset();
}

int ServiceFixture::StopService() {
  service_->Signal(SIGTERM);
  const int code = service_->Finish().exitCode;
  service_.reset();
  return code;
}

Reply ServiceFixture::Call(const std::string& method, const std::string& path,
                           const std::string& secret, const std::string& body,
                           const httplib::Headers& extraHeaders) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(kDeadline);
  httplib::Headers headers = extraHeaders;
  if (!secret.empty()) headers.emplace("Authorization", "Bearer " + secret);
  httplib::Result result = method == "GET"    ? client.Get(path, headers)
                           : method == "POST" ? client.Post(path, headers, body, "application/json")
                                              : client.Put(path, headers, body, "application/json");
  if (!result) return {};
  Reply reply{result->status, nullptr, result->body, result->get_header_value("Content-Type")};
  reply.body = nlohmann::json::parse(result->body, nullptr, false);
  return reply;
}

nlohmann::json ServiceFixture::WaitFor(const std::string& path,
                                       const std::function<bool(const nlohmann::json&)>& accept) {
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  Reply reply;
  while (std::chrono::steady_clock::now() < end) {
    reply = Get(path);
    if (reply.status == 200 && accept(reply.body)) return reply.body;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << "condition never met on " << path << ": " << reply.body.dump()
                << " fills: " << Get("/api/v1/fills").body.dump()
                << " audit: " << std::ifstream(directory_.Path() / "audit.log").rdbuf();
  return reply.body;
}

bool ServiceFixture::WaitUntil(const std::function<bool()>& condition) {
  if (testing::WaitFor(condition, kDeadline)) return true;
  ADD_FAILURE() << "condition never met";
  return false;
}

std::string ServiceFixture::ReadEvents(const std::string& lastEventId,
                                       const std::function<bool(const std::string&)>& enough) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(kDeadline);
  httplib::Headers headers{{"Authorization", "Bearer " + kViewSecret}};
  if (!lastEventId.empty()) headers.emplace("Last-Event-ID", lastEventId);
  std::string text;
  client.Get("/api/v1/events", headers, [&](const char* data, std::size_t length) {
    text.append(data, length);
    return !enough(text);
  });
  return text;
}

}  // namespace quorlan::testing
