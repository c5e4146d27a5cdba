// What a start with a bad configuration says, and how it ends.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "Process.h"
#include "station/PollSchedule.h"

namespace quorlan::testing {
namespace {

struct ConfigCase {
  const char* what;
  std::string text;
  int exitCode;
  std::string message;  // part of the one line
};

const std::string kLine = "[[line]]\nchannel = 1\nport = \"sim\"\ndispensers = [1]\n";
const std::string kToken = "[[token]]\nname = \"pos\"\nrole = \"operate\"\n";

TEST(StationConfig, AStartWithABadConfigurationEndsWithOneLine) {
  const std::vector<ConfigCase> cases = {
      {"unknown key", kLine + "colour = 3\n", 2, ":5: unknown key 'colour'"},
      {"wrong type", "[[line]]\nchannel = \"one\"\nport = \"sim\"\ndispensers = [1]\n", 2,
       ":2: 'channel' must be an integer"},
      {"duplicate channel", kLine + kLine, 2, ":6: channel 1 is configured twice"},
      {"short token", kLine + kToken + "secret = \"short\"\n", 2,
       ":5: the secret of token 'pos' is shorter than 16 characters"},
      {"unpaid limit out of range", "unpaid_limit = -1\n" + kLine, 2,
       ":1: 'unpaid_limit' must be 0..99"},
      {"currency not a code", "currency = \"euro\"\n" + kLine, 2,
       ":1: 'currency' must be an ISO 4217 code"},
      {"drive-off time without unit", "drive_off_after = \"10\"\n" + kLine, 2,
       ":1: 'drive_off_after' must be a duration"},
      {"nozzle beyond 8", kLine + "nozzles = [1, 9]\n", 2, ":5: 'nozzles' must be 1..8"},
      {"nozzle twice", kLine + "nozzles = [2, 2]\n", 2, ":5: nozzle 2 twice"},
      {"grade named twice",
       kLine + "[[grade]]\nnumber = 1\nname = \"Diesel\"\n[[grade]]\nnumber = 1\nname = \"D\"\n", 2,
       ":9: grade 1 is named twice"},
      {"grade without a name", kLine + "[[grade]]\nnumber = 3\n", 2, ":5: missing 'name'"},
      {"port that cannot be opened",
       "[[line]]\nchannel = 1\nport = \"/dev/no-such-port\"\ndispensers = [1]\n", 3,
       ":3: cannot open the port"},
  };
  const auto file = std::filesystem::temp_directory_path() / "quorlan-station-config.toml";
  for (const auto& c : cases) {
    std::ofstream(file) << c.text;
    const ProcessResult result = RunQuorlan(
        {"serve", "--config", file.string(), "--db", (file.parent_path() / "unused.db").string()});
    EXPECT_EQ(result.exitCode, c.exitCode) << c.what << ": " << result.err;
    EXPECT_NE(result.err.find(file.string() + c.message), std::string::npos)
        << c.what << ": " << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << c.what;
    EXPECT_EQ(result.err.find("short\""), std::string::npos) << "a secret was shown";
  }
  std::filesystem::remove(file);
  std::filesystem::remove(file.parent_path() / "unused.db");
}

TEST(PollSchedule, BusyDispensersTakeEveryPollTheIdleOnesCanSpare) {
  struct Case {
    int dispensers;
    std::set<int> busy;
    int busyGap;  // the longest a busy dispenser may wait, in polls
    int idleGap;  // an idle one: 15/16 of two plain sweeps, rounded up
  };
  std::set<int> allButTwo;
  for (int d = 3; d <= 32; ++d) allButTwo.insert(d);
  const Case cases[] = {
      {32, {7, 23}, 4, 60},
      {6, {2}, 2, 12},
      {32, {}, 0, 32},
      {32, allButTwo, 32, 60},
  };
  for (const Case& c : cases) {
    std::vector<int> dispensers;
    for (int d = 1; d <= c.dispensers; ++d) dispensers.push_back(d);
    station::PollSchedule schedule(dispensers);
    for (int d : c.busy) schedule.SetBusy(d, true);
    std::map<int, int> last, longest;
    for (int poll = 0; poll < 20 * c.dispensers; ++poll) {
      const int d = schedule.Next();
      if (last.count(d)) longest[d] = std::max(longest[d], poll - last[d]);
      last[d] = poll;
    }
    for (int d : dispensers) {
      const int limit = c.busy.count(d) ? c.busyGap : c.idleGap;
      EXPECT_GT(longest[d], 0) << c.dispensers << " dispensers, " << d << " was starved";
      EXPECT_LE(longest[d], limit) << c.dispensers << " dispensers, " << d;
    }
  }
}

}  // namespace
}  // namespace quorlan::testing
