// SPDX-License-Identifier: Apache-2.0
#include "FleetHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <pqxx/pqxx>
#include <stdexcept>
#include <thread>

#include "Outbox.h"

namespace quorlan::fleet_test {

namespace {

constexpr const char* kPostgresBin = "/usr/lib/postgresql/15/bin/";

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Lets `user` own the folder when we are root, so a server that drops to it
// (or runs as it) can write there.
void HandTo(const std::string& folder, const std::string& user) {
  if (geteuid() != 0) return;
  const passwd* account = getpwnam(user.c_str());
  if (!account) throw std::runtime_error("no system user " + user);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (chown(entry.path().c_str(), account->pw_uid, account->pw_gid) != 0) {
      throw std::runtime_error("cannot chown " + entry.path().string());
    }
  }
  if (chown(folder.c_str(), account->pw_uid, account->pw_gid) != 0) {
    throw std::runtime_error("cannot chown " + folder);
  }
}

bool Accepts(int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected =
      connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(socket);
  return connected;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorlan-fleet-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int FreeLoopbackPort() {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(socket);
    throw std::runtime_error("no free port");
  }
  close(socket);
  return ntohs(address.sin_port);
}

Process::Process(std::vector<std::string> argv, const std::string& logFile,
                 const std::string& user) {
  std::vector<char*> arguments;
  for (auto& argument : argv) arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  uid_t uid = 0;
  gid_t gid = 0;
  const bool switchUser = !user.empty() && geteuid() == 0;
  if (switchUser) {
    const passwd* account = getpwnam(user.c_str());
    if (!account) throw std::runtime_error("no system user " + user);
    uid = account->pw_uid;
    gid = account->pw_gid;
  }
  const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) throw std::runtime_error("cannot open " + logFile);
  pid_ = fork();
  if (pid_ == 0) {
    // Only calls that are safe between fork and exec.
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    if (switchUser && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) {
      _exit(126);
    }
    execv(arguments[0], arguments.data());
    _exit(127);
  }
  close(log);
  if (pid_ < 0) throw std::runtime_error("fork failed");
}

Process::~Process() {
  if (!reaped_) {
    Signal(SIGKILL);
    Wait();
  }
}

void Process::Signal(int signal) {
  if (!reaped_) kill(pid_, signal);
}

int Process::Wait() {
  if (reaped_) return 0;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  return status;
}

bool Process::Running() {
  if (reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    return false;
  }
  return true;
}

Broker::Broker(BrokerOptions options) : port_(FreeLoopbackPort()) {
  std::string config = "listener " + std::to_string(port_) + " 127.0.0.1\n" +
                       "persistence true\n"
                       "persistence_location " +
                       dir_.Path() +
                       "/\n"
                       "autosave_interval 1\n"
                       "max_queued_messages 0\n"
                       "log_dest stderr\n";
  if (options.shippedAccessControl) {
    std::filesystem::copy_file(QUORLAN_FLEET_EXAMPLES "/passwords.example", dir_.File("passwords"));
    std::filesystem::copy_file(QUORLAN_FLEET_EXAMPLES "/acl.example", dir_.File("acl"));
    config += "allow_anonymous false\npassword_file " + dir_.File("passwords") + "\nacl_file " +
              dir_.File("acl") + "\n";
  } else {
    config += "allow_anonymous true\n";
  }
  WriteFile(dir_.File("mosquitto.conf"), config);
  HandTo(dir_.Path(), "mosquitto");
  Start();
}

Broker::~Broker() {
  process_.reset();
}

void Broker::Start() {
  // mosquitto drops root for its own user, which owns the folder.
  process_ = std::make_unique<Process>(
      std::vector<std::string>{"/usr/sbin/mosquitto", "-c", dir_.File("mosquitto.conf")},
      dir_.File("mosquitto.log"));
  if (!WaitFor([&] { return Accepts(port_); }, std::chrono::seconds(30))) {
    throw std::runtime_error("mosquitto did not start; see " + dir_.File("mosquitto.log"));
  }
}

void Broker::Pause() {
  process_->Signal(SIGSTOP);
}

void Broker::Resume() {
  process_->Signal(SIGCONT);
}

void Broker::Kill() {
  process_->Signal(SIGCONT);
  process_->Signal(SIGKILL);
  process_->Wait();
}

Postgres::Postgres() {
  const std::string data = dir_.File("data");
  HandTo(dir_.Path(), "postgres");
  {
    Process initdb({std::string(kPostgresBin) + "initdb", "-D", data, "-U", "postgres", "-A",
                    "trust", "--no-sync", "-E", "UTF8", "--locale=C"},
                   dir_.File("initdb.log"), "postgres");
    const int status = initdb.Wait();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw std::runtime_error("initdb failed; see " + dir_.File("initdb.log"));
    }
  }
  Start();
}

void Postgres::Start() {
  const std::string data = dir_.File("data");
  // A socket in the folder and no TCP at all.
  process_ = std::make_unique<Process>(
      std::vector<std::string>{std::string(kPostgresBin) + "postgres", "-D", data, "-k",
                               dir_.Path(), "-c", "listen_addresses=", "-c", "fsync=off"},
      dir_.File("postgres.log"), "postgres");
  const bool up = WaitFor(
      [&] {
        try {
          pqxx::connection connection(ConnectionString());
          return connection.is_open();
        } catch (const std::exception&) {
          return false;
        }
      },
      std::chrono::seconds(60));
  if (!up) throw std::runtime_error("PostgreSQL did not start; see " + dir_.File("postgres.log"));
}

void Postgres::Stop() {
  process_->Signal(SIGINT);  // fast shutdown
  process_->Wait();
  process_.reset();
}

Postgres::~Postgres() {
  if (process_) {
    process_->Signal(SIGINT);  // fast shutdown
    process_->Wait();
  }
}

std::string Postgres::ConnectionString() const {
  return "host=" + dir_.Path() + " dbname=postgres user=postgres";
}

std::string Postgres::Scalar(const std::string& sql) const {
  pqxx::connection connection(ConnectionString());
  pqxx::work work(connection);
  const auto rows = work.exec(sql);
  if (rows.empty() || rows[0][0].is_null()) return "";
  return rows[0][0].as<std::string>();
}

std::string ExamplePassword(const std::string& user) {
  return user + "-example-password";
}

HeadOffice::HeadOffice(const Broker& broker, const Postgres& postgres, const std::string& clientId)
    : port_(FreeLoopbackPort()) {
  WriteFile(dir_.File("mqtt-password"), ExamplePassword("hq") + "\n");
  WriteFile(dir_.File("hq.toml"),
            "listen = \"127.0.0.1:" + std::to_string(port_) + "\"\n" + "database = \"" +
                postgres.ConnectionString() + "\"\n" + "broker = \"" + broker.Url() + "\"\n" +
                "broker_user = \"hq\"\n"
                "broker_password_file = \"" +
                dir_.File("mqtt-password") + "\"\n" + "client_id = \"" + clientId + "\"\n" +
                "[[token]]\nname = \"office\"\nsecret = \"" + kAdminToken +
                "\"\nrole = \"admin\"\n"
                "[[token]]\nname = \"viewer\"\nsecret = \"" +
                kViewToken + "\"\nrole = \"view\"\n");
  Start();
}

HeadOffice::~HeadOffice() {
  Stop();
}

void HeadOffice::Start() {
  process_ = std::make_unique<Process>(
      std::vector<std::string>{QUORLAN_HQ_PATH, "--config", dir_.File("hq.toml")},
      dir_.File("hq.log"));
  if (!WaitFor([&] { return Accepts(port_); }, std::chrono::seconds(30))) {
    throw std::runtime_error("quorlan-hq did not start; see " + dir_.File("hq.log"));
  }
}

void HeadOffice::Kill() {
  process_->Signal(SIGKILL);
  process_->Wait();
}

void HeadOffice::Stop() {
  if (process_ && process_->Running()) {
    process_->Signal(SIGTERM);
    process_->Wait();
  }
}

TestStation::TestStation(const std::string& id, const Broker& broker,
                         fleet::CommandReceiver::ApplyPrices apply)
    : id_(id),
      writer_(dir_.File("station.db")),
      reader_(dir_.File("station.db")),
      writerSql_(writer_),
      readerSql_(reader_) {
  writer_.Execute("PRAGMA journal_mode=WAL");
  writer_.Execute(fleet::Outbox::Schema());
  if (apply) commands_ = std::make_unique<fleet::CommandReceiver>(readerSql_, std::move(apply));
  fleet::PublisherOptions options;
  options.stationId = id;
  options.mqtt.url = broker.Url();
  options.mqtt.user = id;
  options.mqtt.password = ExamplePassword(id);
  options.mqtt.keepAliveSeconds = 5;
  options.resendAfter = std::chrono::seconds(2);
  options.presence = {{"lines", json::array({1})}};
  publisher_ = std::make_unique<fleet::Publisher>(options, readerSql_, commands_.get());
}

TestStation::~TestStation() {
  publisher_.reset();
}

void TestStation::AddFill(int fillId, int version, const json& fill) {
  station::sql::Transaction transaction(writer_);
  fleet::Outbox::Add(writerSql_, fleet::Kind::Fill, std::to_string(fillId), version, fill);
  transaction.Commit();
}

std::int64_t TestStation::Unconfirmed() {
  station::sql::Database reader(dir_.File("station.db"));
  fleet::StationSql sql(reader);
  return fleet::Outbox::Unconfirmed(sql);
}

json Fill(int fillId, int channel, int dispenser, double volume, double amount,
          const std::string& status) {
  return {{"id", fillId},
          {"channel", channel},
          {"dispenser", dispenser},
          {"nozzle", 1},
          {"grade", 1},
          {"price", 1.50},
          {"volume", volume},
          {"amount", amount},
          {"status", status},
          {"finished_at", "2026-12-07T10:15:02.120+01:00"}};
}

}  // namespace quorlan::fleet_test
