// SPDX-License-Identifier: Apache-2.0
// The hand-written bash completion held to the command's own --help: bash
// offers every command, the global options and each command's options, and
// nothing else. Without bash-completion installed, each word must at least
// be in the file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "Process.h"

namespace quorlan::testing {
namespace {

constexpr const char* kBashCompletion = "/usr/share/bash-completion/bash_completion";

using Words = std::set<std::string>;

// The commands under "Subcommands:", or the options' names ("-h,--help" is two).
Words FromHelp(const std::string& help, bool commands) {
  Words words;
  std::istringstream lines(help);
  bool listing = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != ' ') {
      listing = line.rfind("Subcommands:", 0) == 0;
      continue;
    }
    std::string first = line.substr(2, line.find(' ', 2) - 2);
    if (commands && listing) {
      words.insert(first);
    } else if (!commands && first.rfind('-', 0) == 0) {
      std::istringstream names(first);
      for (std::string name; std::getline(names, name, ',');) words.insert(name);
    }
  }
  return words;
}

// What bash offers for the line, the cursor at its end.
Words Offered(const std::string& line) {
  const ProcessResult result = Process({"/bin/bash", "-c",
                                        std::string("source ") + kBashCompletion +
                                            "; source \"$1\"; COMP_LINE=\"$2\"; "
                                            "COMP_POINT=${#COMP_LINE}; read -ra COMP_WORDS <<< "
                                            "\"$2\"; [[ $2 == *' ' ]] && COMP_WORDS+=(''); "
                                            "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quorlan; "
                                            "printf '%s\\n' \"${COMPREPLY[@]}\"",
                                        "_", QUORLAN_COMPLETION_PATH, line})
                                   .Finish();
  EXPECT_EQ(result.exitCode, 0) << line << ": " << result.err;
  Words words;
  std::istringstream lines(result.out);
  for (std::string word; std::getline(lines, word);) {
    if (!word.empty()) words.insert(word);
  }
  return words;
}

TEST(Completion, OffersEveryCommandAndOptionTheHelpLists) {
  const ProcessResult help = RunQuorlan({"--help"});
  ASSERT_EQ(help.exitCode, 0) << help.err;
  const Words commands = FromHelp(help.out, true);
  ASSERT_GE(commands.size(), 10u) << help.out;
  std::vector<std::pair<std::string, Words>> cases{{"quorlan ", commands},
                                                   {"quorlan -", FromHelp(help.out, false)},
                                                   {"quorlan --log x.log sta", {"status"}}};
  for (const std::string& command : commands) {
    const ProcessResult own = RunQuorlan({command, "--help"});
    ASSERT_EQ(own.exitCode, 0) << command << ": " << own.err;
    cases.emplace_back("quorlan " + command + " -", FromHelp(own.out, false));
  }
  if (!std::filesystem::exists(kBashCompletion)) {
    std::ifstream in(QUORLAN_COMPLETION_PATH);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    for (const auto& [line, words] : cases) {
      for (const std::string& word : words) {
        EXPECT_NE(text.find(word), std::string::npos) << line << " needs " << word;
      }
    }
    return;
  }
  for (const auto& [line, words] : cases) EXPECT_EQ(Offered(line), words) << line;
}

}  // namespace
}  // namespace quorlan::testing
