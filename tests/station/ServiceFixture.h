#pragma once
// A station under test: a simulated line on a pseudo-terminal, and
// `quorlan serve` as a child process configured to use it, with one token
// per role.

#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "Process.h"
#include "sim/Line.h"
#include "sim/PtyServer.h"
#include "support/TempFolder.h"

namespace quorlan::testing {

inline constexpr std::chrono::seconds kDeadline{30};

// Secrets of the configured tokens, by role; the names are the roles'.
inline const std::string kViewSecret = "view-secret-0123456789";
inline const std::string kOperateSecret = "operate-secret-0123456789";
inline const std::string kAdminSecret = "admin-secret-0123456789";

struct Reply {
  int status = 0;
  nlohmann::json body;  // discarded when the answer is not JSON
  std::string text;
  std::string contentType;
};

// Configuration added to the generated file: keys at the top, keys of the
// line, and tables after the tokens (more tokens, grades).
struct ExtraConfig {
  std::string top;
  std::string line;
  std::string tables;
};

class ServiceFixture {
 public:
  // `pty` shapes the line's wire (an echo, pacing).
  explicit ServiceFixture(sim::LineOptions options, sim::PtyOptions pty = {});
  ~ServiceFixture();

  // A fresh line, as after a power cut of the dispensers.
  void NewLine(sim::LineOptions options);
  sim::Line& Line() { return *line_; }
  // A line that disappears: the pseudo-terminal closes.
  void RemoveLine();

  // Applies from the next start.
  void Configure(ExtraConfig extra) { extra_ = std::move(extra); }
  void StartService();
  void KillService();  // SIGKILL
  int StopService();   // SIGTERM; the exit code

  Reply Call(const std::string& method, const std::string& path, const std::string& secret,
             const std::string& body = "", const httplib::Headers& headers = {});
  Reply Get(const std::string& path) { return Call("GET", path, kViewSecret); }
  // Polls `path` until `accept` holds for its answer; fails the test after
  // the deadline.
  nlohmann::json WaitFor(const std::string& path,
                         const std::function<bool(const nlohmann::json&)>& accept);
  // The event stream's text until `enough` holds for it (or the deadline).
  std::string ReadEvents(const std::string& lastEventId,
                         const std::function<bool(const std::string&)>& enough);

  // Waits for `condition`; fails the test after the deadline.
  static bool WaitUntil(const std::function<bool()>& condition);

  int Port() const { return port_; }
  const std::filesystem::path& Directory() const { return directory_.Path(); }

 private:
  TempFolder directory_{"quorlan-station"};
  std::shared_ptr<sim::Line> line_;
  sim::PtyOptions ptyOptions_;
  std::unique_ptr<sim::PtyServer> pty_;
  std::unique_ptr<Process> service_;
  ExtraConfig extra_;
  int port_ = 0;
};

}  // namespace quorlan::testing
