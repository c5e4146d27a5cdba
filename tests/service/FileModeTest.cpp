// SPDX-License-Identifier: Apache-2.0
// The files the service creates hold the station's money: only its own user
// may read them, also when it is started by hand with a lenient umask.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

class Umask {
 public:
  explicit Umask(mode_t mask) : was_(umask(mask)) {}
  ~Umask() { umask(was_); }

 private:
  mode_t was_;
};

TEST(FileModes, EveryFileTheServiceCreatesIsItsUsersAloneUnderUmask022) {
  TempDir dir;
  SimLines lines(dir.Path(), 1, 1, 1);
  std::string config;
  {
    std::ifstream file(WriteConfig(dir, &lines));
    std::stringstream text;
    text << file.rdbuf();
    config = text.str();
  }
  config = std::regex_replace(config, std::regex("(\\[\\[line\\]\\]\n)"),
                              "$1capture = \"" + dir.File("line1.pcap") + "\"\n");
  std::ofstream(dir.File("station.toml")) << config;
  // What the test itself writes; everything else in the folder is the service's.
  const std::set<std::string> ours{"station.toml", "serve.err", "line1"};

  const Umask lenient(022);
  Service service(dir, dir.File("station.toml"));
  auto admin = service.Client();
  SeedPrices(*admin, 1, 1);
  // A fill written, so that every file (the journal's WAL above all) is in use.
  auto operate = service.Client("operate");
  const auto authorized =
      operate->Post("/api/v1/dispensers/1/1/authorize", R"({"grade":1})", "application/json");
  ASSERT_TRUE(authorized && authorized->status == 200);
  const std::vector<std::string> expected{"station.db", "station.db-wal", "station.db-shm",
                                          "driver.log", "audit.log",      "line1.pcap"};
  ASSERT_TRUE(WaitFor([&] {
    for (const auto& name : expected) {
      if (!std::filesystem::exists(dir.File(name))) return false;
    }
    return true;
  })) << "the service did not create all of its files";

  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    const std::string name = entry.path().filename().string();
    if (ours.contains(name)) continue;
    struct stat status {};
    ASSERT_EQ(::stat(entry.path().c_str(), &status), 0) << name;
    // The simulated line's device links point elsewhere; everything else is a file of the service.
    if (!S_ISREG(status.st_mode)) continue;
    EXPECT_EQ(status.st_mode & 07777, 0600u) << name;
  }
}

}  // namespace
}  // namespace quorlan::service_test
