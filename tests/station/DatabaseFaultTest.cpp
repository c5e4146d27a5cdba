// SPDX-License-Identifier: Apache-2.0
// The journal's database in trouble: locked by another process, not
// writable, corrupt. A lock is waited for and reads go on meanwhile; a
// database that cannot take a fill is refused at the start with one line;
// a corruption met later is a typed failure that the API answers with 503.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "Process.h"
#include "ServiceFixture.h"
#include "station/journal/Store.h"
#include "support/TempFolder.h"

namespace quorlan::testing {
namespace {

using station::FillRecord;
using station::FillStatus;
using station::Store;
namespace sql = station::sql;

constexpr uid_t kNobody = 65534;

// Another process's connection, as `sqlite3 station.db` would hold one.
class OtherConnection {
 public:
  explicit OtherConnection(const std::filesystem::path& path) {
    EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
  }
  ~OtherConnection() { sqlite3_close(db_); }
  int Execute(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  std::int64_t Integer(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
    std::int64_t value = -1;
    if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return value;
  }

 private:
  sqlite3* db_ = nullptr;
};

FillRecord AFill(int dispenser) {
  FillRecord fill;
  fill.channel = 1;
  fill.dispenser = dispenser;
  fill.nozzle = 1;
  fill.grade = 1;
  fill.price = 5290;
  fill.authorizedBy = "pos-1";
  fill.authorizedAt = "2026-12-07T10:00:00Z";
  fill.status = FillStatus::Open;
  return fill;
}

// A journal of completed fills over several pages, closed.
void MakeJournal(const std::filesystem::path& path, int fills) {
  Store store(path.string());
  for (int i = 1; i <= fills; ++i) {
    FillRecord fill = AFill(1 + i % 4);
    fill.id = store.fills.Insert(fill);
    fill.volume = 500;
    fill.amount = 26450;
    fill.finishedAt = "2026-12-07T10:01:00Z";
    fill.status = FillStatus::Done;
    ASSERT_TRUE(store.fills.End(fill, {i, "fill", "{\"id\":" + std::to_string(i) + "}"}));
  }
}

// Garbage over the first page of the fills table (its root), which a start
// without a check never reads: the journal is consistent until a query
// needs the fills.
void CorruptFillsTable(const std::filesystem::path& path) {
  std::int64_t page = 0, pageSize = 0;
  {
    OtherConnection other(path);
    page = other.Integer("SELECT rootpage FROM sqlite_schema WHERE name = 'fills'");
    pageSize = other.Integer("PRAGMA page_size");
  }
  ASSERT_GT(page, 1);
  const int file = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(file, 0);
  const std::string garbage(static_cast<std::size_t>(pageSize), '\xA5');
  ASSERT_EQ(::pwrite(file, garbage.data(), garbage.size(), (page - 1) * pageSize),
            static_cast<ssize_t>(garbage.size()));
  ::close(file);
}

TEST(DatabaseFaults, AWriteWaitsForAnotherProcessesLockWhileReadsGoOn) {
  TempFolder dir{"quorlan-database"};
  const auto path = dir.Path() / "station.db";
  Store store(path.string());
  OtherConnection other(path);
  ASSERT_EQ(other.Execute("BEGIN IMMEDIATE"), SQLITE_OK);
  ASSERT_EQ(other.Execute("INSERT INTO counters(name, value) VALUES('other', 1)"), SQLITE_OK);

  std::optional<std::int64_t> id;
  std::string failure;
  std::thread writer([&] {
    try {
      id = store.fills.Insert(AFill(1));
    } catch (const std::exception& error) {
      failure = error.what();
    }
  });
  // The write is waiting for the lock; a read is answered meanwhile, before
  // the lock goes. (A read behind the waiting write would come only once
  // the write had given up.)
  ServiceFixture::WaitUntil([&] { return store.database.LockWaits() > 0; });
  EXPECT_TRUE(store.fills.Completed(0, 10).empty());
  EXPECT_TRUE(store.prices.All().empty());
  ASSERT_EQ(other.Execute("COMMIT"), SQLITE_OK);
  writer.join();

  EXPECT_EQ(failure, "");
  ASSERT_TRUE(id);
  const auto open = store.fills.OpenOn(1);
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open.front().id, *id);
}

TEST(DatabaseFaults, ALockHeldPastTheWaitIsATypedFailureAndNothingIsHalfWritten) {
  TempFolder dir{"quorlan-database"};
  const auto path = dir.Path() / "station.db";
  Store store(path.string());
  OtherConnection other(path);
  ASSERT_EQ(other.Execute("BEGIN IMMEDIATE"), SQLITE_OK);
  try {
    store.prices.Save({{1, 1, 1, 5290}}, {1, "prices", "[]"});
    FAIL() << "written through another's lock";
  } catch (const sql::Unavailable& error) {
    EXPECT_EQ(error.Why(), sql::Unavailable::Reason::Locked);
    EXPECT_STREQ(error.what(), "the database is locked by another process");
  }
  ASSERT_EQ(other.Execute("ROLLBACK"), SQLITE_OK);
  EXPECT_TRUE(store.prices.All().empty());
  EXPECT_TRUE(store.events.After(0, 10).empty());
  store.prices.Save({{1, 1, 1, 5290}}, {1, "prices", "[]"});
  EXPECT_EQ(store.prices.All().size(), 1u);
}

TEST(DatabaseFaults, ACorruptionMetAfterTheStartIsATypedFailure) {
  TempFolder dir{"quorlan-database"};
  const auto path = dir.Path() / "station.db";
  MakeJournal(path, 40);
  Store store(path.string());
  CorruptFillsTable(path);
  try {
    store.fills.Completed(0, 1000);
    FAIL() << "a corrupt page was read as fills";
  } catch (const sql::Unavailable& error) {
    EXPECT_EQ(error.Why(), sql::Unavailable::Reason::Corrupt);
    EXPECT_STREQ(error.what(), "the database is corrupt");
  }
}

// `quorlan serve` on the database, with a simulated line; as `user` when
// the test runs as root. Its exit code (-1: still running at the deadline,
// then killed) and standard error.
ProcessResult StartOn(const std::filesystem::path& dir, const std::filesystem::path& database,
                      std::optional<uid_t> user) {
  const auto config = dir / "station.toml";
  std::ofstream(config) << "listen = \"127.0.0.1:0\"\n"
                        << "[[line]]\nchannel = 1\nport = \"sim\"\ndispensers = [1]\n"
                        << "[[token]]\nname = \"view\"\nrole = \"view\"\nsecret = \"" << kViewSecret
                        << "\"\n";
  int errors[2];
  EXPECT_EQ(::pipe(errors), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(errors[1], STDERR_FILENO);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    if (user && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(*user) != 0 || ::setuid(*user) != 0)) {
      ::_exit(125);
    }
    ::execl(QUORLAN_CLI_PATH, QUORLAN_CLI_PATH, "serve", "--config", config.c_str(), "--db",
            database.c_str(), static_cast<char*>(nullptr));
    ::_exit(126);
  }
  ::close(errors[1]);
  ProcessResult result;
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  char buffer[4096];
  for (ssize_t n; (n = ::read(errors[0], buffer, sizeof buffer)) > 0;) result.err.append(buffer, n);
  ::close(errors[0]);
  return result;
}

TEST(DatabaseFaults, ADatabaseThatCannotTakeAFillIsRefusedAtTheStart) {
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path&)> spoil;
    std::optional<uid_t> user;  // the service runs as another user than the file's owner
    std::string message;
  };
  const Case cases[] = {
      // The service's user may not write the file. Root may write any file,
      // so the service drops to another user then, as a real one runs.
      {"read-only file",
       [](const std::filesystem::path& path) {
         ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
         // The directory lets anyone create the journal's side files: only
         // the database itself refuses.
         ASSERT_EQ(::chmod(path.parent_path().c_str(), 0777), 0);
       },
       kNobody, "the database cannot be written (read-only)"},
      {"corrupt page", CorruptFillsTable, std::nullopt, "the database is corrupt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder dir{"quorlan-database"};
    ::chmod(dir.Path().c_str(), 0755);
    const auto path = dir.Path() / "station.db";
    MakeJournal(path, 40);
    c.spoil(path);
    const ProcessResult result = StartOn(dir.Path(), path, c.user);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find(path.string() + ": " + c.message), std::string::npos) << result.err;
  }
}

TEST(DatabaseFaults, ACorruptionMetWhileServingIsA503) {
  TempFolder dir{"quorlan-database"};
  const auto path = dir.Path() / "station.db";
  MakeJournal(path, 40);
  const auto config = dir.Path() / "station.toml";
  std::ofstream(config) << "listen = \"127.0.0.1:0\"\n"
                        << "[[line]]\nchannel = 1\nport = \"sim\"\ndispensers = [1]\n"
                        << "[[token]]\nname = \"view\"\nrole = \"view\"\nsecret = \"" << kViewSecret
                        << "\"\n";
  Process service({QUORLAN_CLI_PATH, "serve", "--config", config.string(), "--db", path.string()});
  const std::string address = service.ReadLine();
  const auto colon = address.rfind(':');
  ASSERT_NE(colon, std::string::npos) << address << service.Finish().err;
  CorruptFillsTable(path);

  httplib::Client client("127.0.0.1", std::stoi(address.substr(colon + 1)));
  client.set_read_timeout(kDeadline);
  const httplib::Headers headers{{"Authorization", "Bearer " + kViewSecret}};
  for (const char* route : {"/api/v1/fills", "/api/v1/fills/7"}) {
    SCOPED_TRACE(route);
    const auto answer = client.Get(route, headers);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 503) << answer->body;
    const auto problem = nlohmann::json::parse(answer->body, nullptr, false);
    EXPECT_EQ(problem.value("detail", ""), "the journal is unavailable: the database is corrupt");
  }
  service.Signal(SIGTERM);
  service.Finish();
}

// A disk that refuses writes (here the file size limit, which fails a write
// as a full disk does) is said by health until a write goes through again.
TEST(DatabaseFaults, ADiskThatRefusesWritesIsAProblemUntilAWriteSucceeds) {
  TempFolder dir{"quorlan-database"};
  const auto path = dir.Path() / "station.db";
  Store store(path.string());
  ASSERT_EQ(store.database.Problem(), "");
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = before;
  tight.rlim_cur = 1;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  EXPECT_THROW(store.fills.Insert(AFill(1)), sql::Unavailable);
  const std::string refused = store.database.Problem();
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
  ::signal(SIGXFSZ, previous);
  EXPECT_NE(refused.find("cannot be written"), std::string::npos) << refused;
  EXPECT_EQ(store.database.Check(), "")
      << "a full disk is no reason to refuse the write that tells";
  EXPECT_GT(store.fills.Insert(AFill(1)), 0);
  EXPECT_EQ(store.database.Problem(), "");
}

// The schema the first release wrote: a database made by it must still open.
constexpr std::string_view kFirstSchema =
    R"(CREATE TABLE prices(
         channel INTEGER NOT NULL, dispenser INTEGER NOT NULL, grade INTEGER NOT NULL,
         price INTEGER NOT NULL, PRIMARY KEY(channel, dispenser, grade));
       CREATE TABLE fills(
         id INTEGER PRIMARY KEY AUTOINCREMENT,
         channel INTEGER NOT NULL, dispenser INTEGER NOT NULL, nozzle INTEGER NOT NULL,
         grade INTEGER, price INTEGER,
         limit_kind TEXT NOT NULL, limit_value INTEGER NOT NULL,
         authorized_by TEXT, authorized_at TEXT, finished_at TEXT,
         volume INTEGER NOT NULL, amount INTEGER NOT NULL,
         shown_volume INTEGER NOT NULL, shown_amount INTEGER NOT NULL,
         recovered INTEGER NOT NULL, status TEXT NOT NULL);
       CREATE INDEX fills_by_status ON fills(status, channel);
       CREATE TABLE events(id INTEGER PRIMARY KEY, name TEXT NOT NULL, data TEXT NOT NULL);
       CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);
       INSERT INTO fills VALUES(1, 1, 1, 1, 1, 5290, 'none', 0, 'pos-1',
         '2026-12-07T10:00:00Z', '2026-12-07T10:01:00Z', 500, 26450, 0, 0, 0, 'done');
       INSERT INTO fills VALUES(2, 1, 2, 0, 1, 5290, 'amount', 2000, 'pos-1',
         '2026-12-07T10:02:00Z', NULL, 0, 0, 0, 0, 0, 'open');
       PRAGMA user_version = 1;)";

TEST(StoreSchema, ADatabaseOfTheFirstReleaseGetsEveryLaterStep) {
  TempFolder dir{"quorlan-database"};
  const auto path = dir.Path() / "station.db";
  ASSERT_EQ(OtherConnection(path).Execute(std::string(kFirstSchema)), SQLITE_OK);
  {
    Store store(path.string());
    const auto done = store.fills.Shown(1);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->status, FillStatus::Done);
    EXPECT_EQ(done->settledFrom, station::SettledFrom::Readout);
    EXPECT_FALSE(done->requestedGrade);
    EXPECT_FALSE(done->settlement.paid);
    EXPECT_EQ(store.settlement.Unpaid(1, 1), 1);
    // The open fill of the old release ends as this one ends fills.
    auto open = store.fills.OpenOn(1);
    ASSERT_EQ(open.size(), 1U);
    open.front().status = FillStatus::Cancelled;
    ASSERT_TRUE(store.fills.End(open.front(), {1, "fill", "{}"}));
    EXPECT_EQ(store.fills.Shown(2)->status, FillStatus::Cancelled);
    EXPECT_EQ(store.shifts.Current("2026-12-07T11:00:00Z").id, 1);
  }
  OtherConnection check(path);
  const std::int64_t steps = check.Integer("PRAGMA user_version");
  TempFolder fresh{"quorlan-database"};
  Store((fresh.Path() / "station.db").string()).fills.Shown(1);
  EXPECT_EQ(OtherConnection(fresh.Path() / "station.db").Integer("PRAGMA user_version"), steps);
  EXPECT_GE(steps, 3);
  // A database of a newer release is refused, not guessed at.
  ASSERT_EQ(check.Execute("PRAGMA user_version = " + std::to_string(steps + 1)), SQLITE_OK);
  EXPECT_THROW(Store{path.string()}, sql::Error);
}

}  // namespace
}  // namespace quorlan::testing
