// What a start with a bad configuration says, and how it ends.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

TEST(PollSchedule, PollsBusyDispensersMoreWithoutStarvingIdleOnes) {
  station::PollSchedule schedule({1, 2, 3, 4, 5, 6}, 4);
  schedule.SetBusy(2, true);
  std::map<int, int> polls;
  for (int i = 0; i < 50; ++i) ++polls[schedule.Next()];
  EXPECT_EQ(polls[2], 40);
  for (int idle : {1, 3, 4, 5, 6}) EXPECT_EQ(polls[idle], 2) << idle;
}

}  // namespace
}  // namespace quorlan::testing
