#pragma once
// How a failure reaches the user: one English line on stderr, and with
// --json also one object on stdout, so that a program reading the results
// sees the failure in the same form.

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace quorlan::cli {

void ReportError(std::string_view message, int exitCode, bool json);

// The parser's complaint in the user's terms: an unknown command names the
// nearest known one, a global option after the command says where it
// belongs, and the arguments it repeats are cut and escaped. `args` are the
// words typed after the program's name.
std::string ExplainParseError(const CLI::App& app, const CLI::ParseError& error,
                              const std::vector<std::string>& args);

bool HasJsonFlag(const std::vector<std::string>& args);

}  // namespace quorlan::cli
