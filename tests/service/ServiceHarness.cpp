#include "ServiceHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quorlan::service_test {

namespace {

constexpr std::chrono::seconds kStartDeadline{30};
constexpr std::chrono::milliseconds kFaultTick{20};
constexpr std::array kFaultKinds{sim::FaultKind::NoReply,    sim::FaultKind::WrongComplement,
                                 sim::FaultKind::ShortReply, sim::FaultKind::BadDigit,
                                 sim::FaultKind::LateReply,  sim::FaultKind::StatusByte};

std::uint64_t Exchanges(sim::Line& line) {
  std::uint64_t sum = 0;
  for (int kind = 0; kind < sim::kRequestKinds; ++kind) {
    sum += line.Count(static_cast<sim::Request>(kind));
  }
  return sum;
}

}  // namespace

SimLines::SimLines(const std::string& dir, int lines, int dispensers, double flowRate)
    : dir_(dir), dispensers_(dispensers) {
  for (int channel = 1; channel <= lines; ++channel) {
    lines_.push_back(std::make_shared<sim::Line>(
        sim::LineOptions{.dispensers = dispensers, .flowRate = flowRate, .autoNozzle = true}));
    servers_.emplace_back();
    Restore(channel);
  }
}

SimLines::~SimLines() {
  StopFaults();
  for (auto& server : servers_) {
    if (server) server->Stop();
  }
}

std::string SimLines::LinkOf(int channel) const {
  return dir_ + "/line" + std::to_string(channel);
}

void SimLines::Remove(int channel) {
  auto& server = servers_.at(std::size_t(channel - 1));
  std::filesystem::remove(LinkOf(channel));
  server->Stop();
  server.reset();
}

void SimLines::Restore(int channel) {
  auto& server = servers_.at(std::size_t(channel - 1));
  server = std::make_unique<sim::PtyServer>(lines_.at(std::size_t(channel - 1)));
  server->SetTrace(
      [this, channel](sim::TraceDirection direction, int, std::span<const std::uint8_t> bytes) {
        if (direction != sim::TraceDirection::Request) return;
        const auto info = sim::DecodePairs(bytes);
        if (!info || info->size() < 2) return;
        const auto target = sim::DecodeAddress((*info)[0]);
        if (!target) return;
        const auto request = sim::ClassifyRequest(target->second, (*info)[1]);
        if (!request) return;
        std::lock_guard lock(hookMutex_);
        if (const auto hook = hooks_.find(channel); hook != hooks_.end() && hook->second) {
          hook->second(target->dispenser, *request);
        }
      });
  server->Start();
  const std::string link = LinkOf(channel);
  std::filesystem::remove(link);
  std::filesystem::create_symlink(server->SlavePath(), link);
}

void SimLines::OnRequest(int channel, RequestHook hook) {
  std::lock_guard lock(hookMutex_);
  hooks_[channel] = std::move(hook);
}

WriteLock::WriteLock(const std::string& database) {
  if (sqlite3_open_v2(database.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_busy_timeout(db_, 30000) != SQLITE_OK ||
      sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    const std::string why = sqlite3_errmsg(db_);
    sqlite3_close(db_);
    throw std::runtime_error("cannot lock " + database + ": " + why);
  }
}

WriteLock::~WriteLock() {
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
}

LockAtAuthorization::LockAtAuthorization(SimLines& lines, int channel, const std::string& database)
    : lines_(lines), channel_(channel) {
  lines_.OnRequest(channel_, [this, database](int, sim::Request request) {
    if (request != sim::Request::PresetAuthorize || taken_) return;
    lock_ = std::make_unique<WriteLock>(database);
    taken_ = true;
  });
}

void LockAtAuthorization::Release() {
  // Waits for a hook under way.
  lines_.OnRequest(channel_, {});
  lock_.reset();
}

std::pair<std::int64_t, std::int64_t> SimLines::Totals(int channel, int dispenser) {
  const auto snapshot = Line(channel).Snapshot(dispenser);
  std::pair<std::int64_t, std::int64_t> sum{0, 0};
  for (const auto& totals : snapshot.totals) {
    sum.first += totals.volume;
    sum.second += totals.amount;
  }
  return sum;
}

void SimLines::StartFaults(double share, unsigned seed, bool badDigits) {
  faulting_ = true;
  faultThread_ = std::thread([this, share, seed, badDigits] {
    std::mt19937 random(seed);
    std::vector<std::uint64_t> seen;
    for (auto& line : lines_) seen.push_back(Exchanges(*line));
    double owed = 0;
    while (faulting_) {
      std::this_thread::sleep_for(kFaultTick);
      for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::uint64_t now = Exchanges(*lines_[i]);
        owed += share * static_cast<double>(now - seen[i]);
        seen[i] = now;
        for (; owed >= 1; owed -= 1) {
          sim::Fault fault;
          do {
            fault.kind = kFaultKinds[random() % kFaultKinds.size()];
          } while (!badDigits && fault.kind == sim::FaultKind::BadDigit);
          fault.statusByte = 0x5A;  // no state the protocol knows
          fault.delay = std::chrono::milliseconds(400);
          const int dispenser = 1 + static_cast<int>(random() % unsigned(dispensers_));
          const auto request = static_cast<sim::Request>(random() % sim::kRequestKinds);
          lines_[i]->InjectFault(dispenser, request, fault);
          ++faultsInjected_;
        }
      }
    }
  });
}

void SimLines::StopFaults() {
  if (!faulting_.exchange(false)) return;
  faultThread_.join();
  for (auto& line : lines_) {
    for (int d = 1; d <= dispensers_; ++d) line->ClearFaults(d);
  }
}

const std::vector<Token>& Tokens() {
  static const std::vector<Token> tokens{
      {"watcher", "view-secret-0123456789abcdef", "view"},
      {"pos-1", "operate-secret-0123456789abcdef", "operate"},
      {"manager", "admin-secret-0123456789abcdef", "admin"},
  };
  return tokens;
}

std::string SecretOf(const std::string& role) {
  for (const auto& token : Tokens()) {
    if (token.role == role) return token.secret;
  }
  throw std::invalid_argument("no token of role " + role);
}

std::string WriteConfig(const TempFolder& dir, const SimLines* lines, int simulatedLines,
                        int simulatedDispensers) {
  std::ostringstream text;
  // Every client of these tests comes from 127.0.0.1: the per-address
  // limit stands for many clients here.
  text << "listen = \"127.0.0.1:0\"\n"
       << "max_connections_per_client = 200\n"
       << "database = \"" << dir.File("station.db") << "\"\n"
       << "driver_log = \"" << dir.File("driver.log") << "\"\n"
       << "audit_log = \"" << dir.File("audit.log") << "\"\n";
  const int count = lines ? lines->Count() : simulatedLines;
  const int dispensers = lines ? lines->Dispensers() : simulatedDispensers;
  for (int channel = 1; channel <= count; ++channel) {
    text << "[[line]]\nchannel = " << channel << "\nport = \""
         << (lines ? lines->LinkOf(channel) : "sim") << "\"\ndispensers = [";
    for (int d = 1; d <= dispensers; ++d) text << (d > 1 ? ", " : "") << d;
    text << "]\n";
  }
  for (const auto& token : Tokens()) {
    text << "[[token]]\nname = \"" << token.name << "\"\nsecret = \"" << token.secret
         << "\"\nrole = \"" << token.role << "\"\n";
  }
  const std::string path = dir.File("station.toml");
  std::ofstream(path) << text.str();
  return path;
}

Service::Service(const TempFolder& dir, const std::string& config) {
  ::signal(SIGPIPE, SIG_IGN);
  int out[2];
  if (::pipe(out)) throw std::runtime_error("pipe failed");
  const std::string errorFile = dir.File("serve.err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  // QUORLAN_CLI runs another build of the command (a long run beside a rebuild).
  const char* command = std::getenv("QUORLAN_CLI");
  std::vector<std::string> args{command ? command : QUORLAN_CLI_PATH, "serve", "--config", config};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (failed) {
    ::close(out[0]);
    throw std::runtime_error("cannot start the service");
  }
  // The address line: "http://127.0.0.1:PORT/".
  std::string line;
  const auto end = std::chrono::steady_clock::now() + kStartDeadline;
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd ready{out[0], POLLIN, 0};
    if (::poll(&ready, 1, 200) <= 0) continue;
    char buffer[256];
    const auto n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, std::size_t(n));
  }
  ::close(out[0]);
  const auto colon = line.rfind(':');
  if (line.find('\n') == std::string::npos || colon == std::string::npos) {
    Kill();
    std::ifstream errors(errorFile);
    std::stringstream why;
    why << errors.rdbuf();
    throw std::runtime_error("the service did not start: " + why.str());
  }
  port_ = std::stoi(line.substr(colon + 1));
}

Service::~Service() {
  Kill();
}

void Service::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int Service::Terminate() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long Service::RssKib() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

int Service::OpenDescriptors() const {
  int count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd")) {
    ++count;
  }
  return count;
}

std::unique_ptr<httplib::Client> Service::Client(const std::string& role) const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
  client->set_bearer_token_auth(SecretOf(role));
  client->set_read_timeout(std::chrono::seconds(90));
  client->set_connection_timeout(std::chrono::seconds(10));
  return client;
}

std::int64_t Hundredths(const json& number) {
  return std::llround(number.get<double>() * 100);
}

std::string Imbalance(const JournalSums& journal, SimLines& lines) {
  for (int c = 1; c <= lines.Count(); ++c) {
    for (int d = 1; d <= lines.Dispensers(); ++d) {
      const auto totals = lines.Totals(c, d);
      const auto found = journal.sums.find({c, d});
      const auto sums =
          found == journal.sums.end() ? std::pair<std::int64_t, std::int64_t>{} : found->second;
      if (sums != totals) {
        return std::to_string(c) + "/" + std::to_string(d) + " journal " +
               std::to_string(sums.first) + "/" + std::to_string(sums.second) + " dispenser " +
               std::to_string(totals.first) + "/" + std::to_string(totals.second);
      }
    }
  }
  return {};
}

JournalSums ReadJournal(httplib::Client& client) {
  JournalSums result;
  std::set<std::int64_t> ids;
  for (std::int64_t after = 0;;) {
    const auto answer = client.Get("/api/v1/fills?limit=1000&after=" + std::to_string(after));
    if (!answer || answer->status != 200) throw std::runtime_error("cannot read the fills");
    const json fills = json::parse(answer->body);
    if (fills.empty()) break;
    for (const json& fill : fills) {
      after = fill["id"].get<std::int64_t>();
      if (!ids.insert(after).second) result.duplicate = true;
      auto& sum = result.sums[{fill["channel"].get<int>(), fill["dispenser"].get<int>()}];
      sum.first += Hundredths(fill["volume"]);
      sum.second += Hundredths(fill["amount"]);
      ++result.fills;
    }
  }
  return result;
}

void SeedPrices(httplib::Client& admin, int lines, int dispensers) {
  json book = json::array();
  for (int c = 1; c <= lines; ++c) {
    for (int d = 1; d <= dispensers; ++d) {
      for (int g = 1; g <= 4; ++g) {
        book.push_back({{"channel", c}, {"dispenser", d}, {"grade", g}, {"price", 50 + g}});
      }
    }
  }
  const auto answer = admin.Put("/api/v1/prices", book.dump(), "application/json");
  if (!answer || answer->status != 200) throw std::runtime_error("cannot seed the prices");
}

json View(httplib::Client& client, int channel, int dispenser) {
  const auto answer =
      client.Get("/api/v1/dispensers/" + std::to_string(channel) + "/" + std::to_string(dispenser));
  return answer && answer->status == 200 ? json::parse(answer->body) : json::object();
}

json FillOf(httplib::Client& client, std::int64_t id) {
  const auto answer = client.Get("/api/v1/fills/" + std::to_string(id));
  return answer && answer->status == 200 ? json::parse(answer->body) : json::object();
}

std::vector<json> CompletedFills(httplib::Client& client) {
  std::vector<json> all;
  for (std::int64_t after = 0;;) {
    const auto answer = client.Get("/api/v1/fills?limit=1000&after=" + std::to_string(after));
    if (!answer || answer->status != 200) throw std::runtime_error("cannot read the fills");
    const json fills = json::parse(answer->body);
    if (fills.empty()) return all;
    for (const json& fill : fills) {
      after = fill["id"].get<std::int64_t>();
      all.push_back(fill);
    }
  }
}

std::string Difference(const json& fill, const sim::Sale& sale) {
  const auto number = [](const json& value) {
    return value.is_number() ? std::optional(value.get<std::int64_t>()) : std::nullopt;
  };
  const auto money = [](const json& value) {
    return value.is_number() ? std::optional(Hundredths(value)) : std::nullopt;
  };
  const std::pair<const char*, bool> checks[] = {
      {"nozzle", number(fill["nozzle"]) == sale.nozzle},
      {"grade", number(fill["grade"]) == sale.grade},
      {"price", money(fill["price"]) == sale.price},
      {"volume", money(fill["volume"]) == sale.volume},
      {"amount", money(fill["amount"]) == sale.amount},
  };
  for (const auto& [field, same] : checks) {
    if (!same) {
      return "fill " + fill.dump() + " differs in " + field + " from the sale: nozzle " +
             std::to_string(sale.nozzle) + " grade " + std::to_string(sale.grade) + " price " +
             std::to_string(sale.price) + " volume " + std::to_string(sale.volume) + " amount " +
             std::to_string(sale.amount);
    }
  }
  return {};
}

std::string ReadAnswer(int fd, bool headOnly) {
  std::string text;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < end) {
    if (headOnly && text.find("\r\n\r\n") != std::string::npos) break;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 200) <= 0) continue;
    char buffer[4096];
    const auto n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    text.append(buffer, std::size_t(n));
  }
  return text;
}

RawAnswer RawExchange(int port, const std::string& request, bool headOnly,
                      std::chrono::milliseconds pace) {
  RawAnswer answer;
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(std::uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return answer;
  }
  if (pace.count() == 0) {
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  } else {
    for (char byte : request) {
      if (::send(fd, &byte, 1, MSG_NOSIGNAL) != 1) break;
      std::this_thread::sleep_for(pace);
    }
  }
  const std::string text = ReadAnswer(fd, headOnly);
  ::close(fd);
  const auto split = text.find("\r\n\r\n");
  if (text.rfind("HTTP/1.1 ", 0) != 0 || split == std::string::npos) return answer;
  answer.status = std::atoi(text.c_str() + 9);
  answer.head = text.substr(0, split);
  answer.body = text.substr(split + 4);
  return answer;
}

SilentClient::SilentClient(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  // Before connecting, so that the window offered stays small.
  const int smallest = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(std::uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(request.size())) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

SilentClient::~SilentClient() {
  if (fd_ >= 0) ::close(fd_);
}

int Setting(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text ? std::atoi(text) : fallback;
}

std::string IntegrityCheck(const std::string& database) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open " + database;
  }
  std::string verdict;
  sqlite3_exec(
      db, "PRAGMA integrity_check",
      [](void* out, int, char** values, char**) {
        auto& text = *static_cast<std::string*>(out);
        if (text.empty()) text = values[0] ? values[0] : "(null)";
        return 0;
      },
      &verdict, nullptr);
  sqlite3_close(db);
  return verdict;
}

}  // namespace quorlan::service_test
