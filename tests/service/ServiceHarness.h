#pragma once
// The station service as a separate process over simulated lines that live
// in the test: the lines survive the service's kill, so a restart finds the
// dispensers where the killed process left them.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/Line.h"
#include "sim/PtyServer.h"
#include "sim/Requests.h"
#include "support/TempFolder.h"
#include "support/Waiting.h"

struct sqlite3;

namespace quorlan::service_test {

using nlohmann::json;

using testing::TempFolder;
using testing::WaitFor;
// The fleet's tests name the folder so.
using TempDir = TempFolder;

// Simulated lines, each on a pseudo-terminal reached through a link in
// `dir` that stays the same when the line is taken away and given back.
class SimLines {
 public:
  SimLines(const std::string& dir, int lines, int dispensers, double flowRate = 20);
  ~SimLines();

  int Count() const { return static_cast<int>(lines_.size()); }
  int Dispensers() const { return dispensers_; }
  std::string LinkOf(int channel) const;
  sim::Line& Line(int channel) { return *lines_.at(std::size_t(channel - 1)); }
  // The line disappears (its device too) and comes back on a new one.
  void Remove(int channel);
  void Restore(int channel);
  // Every nozzle's volume and amount totals of one dispenser, in hundredths.
  std::pair<std::int64_t, std::int64_t> Totals(int channel, int dispenser);
  // Faults at random on about `share` of all exchanges, until stopped;
  // bad digits only when asked (the driver takes them at face value).
  void StartFaults(double share, unsigned seed, bool badDigits = false);
  void StopFaults();
  std::uint64_t FaultsInjected() const { return faultsInjected_; }
  // Runs `hook` on the line's thread as each well-formed request arrives,
  // before the dispenser acts on it; an empty hook: none.
  using RequestHook = std::function<void(int dispenser, sim::Request request)>;
  void OnRequest(int channel, RequestHook hook);

 private:
  std::string dir_;
  int dispensers_;
  std::vector<std::shared_ptr<sim::Line>> lines_;
  std::vector<std::unique_ptr<sim::PtyServer>> servers_;
  std::atomic<bool> faulting_{false};
  std::atomic<std::uint64_t> faultsInjected_{0};
  std::thread faultThread_;
  std::mutex hookMutex_;
  std::map<int, RequestHook> hooks_;  // by channel
};

// Another process's write lock on the database, held until destroyed: the
// service's writes wait for it and then fail.
class WriteLock {
 public:
  explicit WriteLock(const std::string& database);
  ~WriteLock();
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  ::sqlite3* db_ = nullptr;
};

// A WriteLock on `database` taken as the next preset authorization reaches
// the line of `channel`, before the dispenser acts on it: the authorization's
// journal row and its key are stored by then, nothing after them can be.
// Held until Release or the end.
class LockAtAuthorization {
 public:
  LockAtAuthorization(SimLines& lines, int channel, const std::string& database);
  ~LockAtAuthorization() { Release(); }
  LockAtAuthorization(const LockAtAuthorization&) = delete;
  LockAtAuthorization& operator=(const LockAtAuthorization&) = delete;
  bool Taken() const { return taken_; }
  void Release();

 private:
  SimLines& lines_;
  int channel_;
  std::unique_ptr<WriteLock> lock_;
  std::atomic<bool> taken_{false};
};

struct Token {
  std::string name;
  std::string secret;
  std::string role;
};

// The standard tokens of these tests, one per role.
const std::vector<Token>& Tokens();
std::string SecretOf(const std::string& role);

// A configuration file for the lines ("sim" when `lines` is null, with
// `simulatedLines` lines), the database and audit log in `dir`.
std::string WriteConfig(const TempFolder& dir, const SimLines* lines, int simulatedLines = 1,
                        int simulatedDispensers = 4);

// `quorlan serve` on its own: standard output read for its address line,
// standard error (the audit log) into a file of the directory.
class Service {
 public:
  Service(const TempFolder& dir, const std::string& config);
  ~Service();
  int Port() const { return port_; }
  int Pid() const { return pid_; }
  void Kill();
  // SIGTERM, then the exit code.
  int Terminate();
  // Resident memory in KiB and open descriptors, from /proc.
  long RssKib() const;
  int OpenDescriptors() const;
  std::unique_ptr<httplib::Client> Client(const std::string& role = "admin") const;

 private:
  int pid_ = -1;
  int port_ = 0;
};

// Sums of the journal's completed fills per (channel, dispenser), and the
// number of fills; fails the test on a fill id seen twice.
struct JournalSums {
  std::map<std::pair<int, int>, std::pair<std::int64_t, std::int64_t>> sums;
  std::size_t fills = 0;
  bool duplicate = false;
};
JournalSums ReadJournal(httplib::Client& client);
// The first dispenser whose journaled volume and amount differ from the
// growth of its own totals, in words; empty when the journal balances.
std::string Imbalance(const JournalSums& journal, SimLines& lines);
// Grades 1..4 of every dispenser of `lines` lines of `dispensers` into the
// book (an admin client), so that they can be authorized.
void SeedPrices(httplib::Client& admin, int lines, int dispensers);
// One dispenser object; empty when the service did not answer.
json View(httplib::Client& client, int channel, int dispenser);
// One fill object; empty when the service did not answer 200.
json FillOf(httplib::Client& client, std::int64_t id);
// Every completed fill of the journal, oldest first.
std::vector<json> CompletedFills(httplib::Client& client);
// The first difference between a journaled fill and the sale the simulated
// dispenser recorded (nozzle, grade, price, volume, amount), in words;
// empty when they agree.
std::string Difference(const json& fill, const sim::Sale& sale);
std::int64_t Hundredths(const json& number);

// One request written as raw bytes to a fresh connection (paced one byte
// per `pace` when given) and the answer read to its end, or only to the end
// of its head when `headOnly`.
struct RawAnswer {
  int status = 0;  // 0: the connection ended without an answer
  std::string head;
  std::string body;
};
RawAnswer RawExchange(int port, const std::string& request, bool headOnly = false,
                      std::chrono::milliseconds pace = std::chrono::milliseconds(0));
// What a connection sends until it closes (or only its head), within 60 s.
std::string ReadAnswer(int fd, bool headOnly);

// A client that sends one request and never reads a byte of the answer,
// with a receive buffer as small as the kernel allows, until destroyed.
class SilentClient {
 public:
  SilentClient(int port, const std::string& request);
  ~SilentClient();
  SilentClient(const SilentClient&) = delete;
  SilentClient& operator=(const SilentClient&) = delete;
  bool Connected() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// A whole number from the environment (a test's size or seed), else `fallback`.
int Setting(const char* name, int fallback);

// "ok", or the first problem PRAGMA integrity_check finds.
std::string IntegrityCheck(const std::string& database);

}  // namespace quorlan::service_test
