// SPDX-License-Identifier: Apache-2.0
#pragma once
// Real servers for the fleet's tests, each in a temporary folder on a free
// loopback port and ended with the test: a mosquitto broker (persistence on,
// optionally the shipped password file and ACL), a throwaway PostgreSQL
// cluster (its socket in its folder, no TCP), head office as a process, and
// stations made of the fleet library over their own SQLite database.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CommandReceiver.h"
#include "Publisher.h"
#include "StationSql.h"
#include "station/sql/Sqlite.h"

namespace quorlan::fleet_test {

using nlohmann::json;

bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::seconds(60));

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A port nothing listens on now (bound, read and released).
int FreeLoopbackPort();

// A child process; killed when this goes.
class Process {
 public:
  // `user`: run as this system user when we are root (empty: as we are).
  Process(std::vector<std::string> argv, const std::string& logFile, const std::string& user = "");
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  void Signal(int signal);
  // Waits for the end; the exit status as waitpid gives it.
  int Wait();
  bool Running();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

struct BrokerOptions {
  bool shippedAccessControl = false;  // packaging/fleet/passwords.example and acl.example
};

class Broker {
 public:
  explicit Broker(BrokerOptions options = {});
  ~Broker();
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
  void Start();
  void Pause();   // SIGSTOP: connections stay open and nothing answers
  void Resume();  // SIGCONT
  void Kill();    // SIGKILL
  // Same port and persistence folder.
  void Restart() {
    Kill();
    Start();
  }

 private:
  TempDir dir_;
  int port_;
  std::unique_ptr<Process> process_;
};

class Postgres {
 public:
  Postgres();
  ~Postgres();
  std::string ConnectionString() const;
  // Runs one statement and answers its first field (empty when none).
  std::string Scalar(const std::string& sql) const;
  // A fast shutdown, then the same cluster again.
  void Stop();
  void Start();

 private:
  TempDir dir_;
  std::unique_ptr<Process> process_;
};

// The example passwords of packaging/fleet/passwords.example.
std::string ExamplePassword(const std::string& user);

class HeadOffice {
 public:
  HeadOffice(const Broker& broker, const Postgres& postgres, const std::string& clientId = "hq-1");
  ~HeadOffice();
  void Start();
  void Kill();
  void Stop();
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  int Port() const { return port_; }

 private:
  TempDir dir_;
  int port_;
  std::unique_ptr<Process> process_;
};

inline constexpr const char* kAdminToken = "hq-admin-secret-0123456789";
inline constexpr const char* kViewToken = "hq-view-secret-0123456789";

class TestStation {
 public:
  TestStation(const std::string& id, const Broker& broker,
              fleet::CommandReceiver::ApplyPrices apply = nullptr);
  ~TestStation();
  void Start() { publisher_->Start(); }
  void Stop() { publisher_->Stop(); }
  // A fill's state as the station's own transaction would write it.
  void AddFill(int fillId, int version, const json& fill);
  std::int64_t Unconfirmed();
  const std::string& Id() const { return id_; }
  fleet::Publisher& Publisher() { return *publisher_; }

 private:
  std::string id_;
  TempDir dir_;
  station::sql::Database writer_;
  station::sql::Database reader_;
  fleet::StationSql writerSql_;
  fleet::StationSql readerSql_;
  std::unique_ptr<fleet::CommandReceiver> commands_;
  std::unique_ptr<fleet::Publisher> publisher_;
};

json Fill(int fillId, int channel, int dispenser, double volume, double amount,
          const std::string& status = "completed");

}  // namespace quorlan::fleet_test
