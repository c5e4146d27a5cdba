// SPDX-License-Identifier: Apache-2.0
#pragma once
// Reads a TOML file's keys for the configuration's sections, noting every
// problem ("file:line: problem") instead of stopping at the first, so that
// one check tells an installer everything.

#include <toml++/toml.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlan::station {

// The line of the file a node stands on.
int LineOf(const toml::node& node);

class TomlReader {
 public:
  explicit TomlReader(std::string file) : file_(std::move(file)) {}

  // Line 0: a problem of the whole file.
  void Problem(int line, std::string problem) { problems_.push_back({line, std::move(problem)}); }
  std::size_t ProblemCount() const { return problems_.size(); }
  // "file:line: problem", in the order of the lines; problems of the whole
  // file last.
  std::vector<std::string> Problems() const;

  // Notes each key of the table that is not `known`; `section` ends the note.
  void CheckKeys(const toml::table& table, std::initializer_list<std::string_view> known,
                 std::string_view section);
  // Nothing, noted, when the key is missing (with fallbackLine > 0) or not a
  // string.
  std::optional<std::string> String(const toml::table& table, std::string_view key,
                                    int fallbackLine);
  std::optional<std::string> OptionalString(const toml::table& table, std::string_view key) {
    return String(table, key, 0);
  }
  std::optional<int> Integer(const toml::node& node, std::string_view key, int low, int high);
  std::optional<int> OptionalInteger(const toml::table& table, std::string_view key, int low,
                                     int high);
  // A list of distinct numbers low..high, at least one.
  std::optional<std::vector<int>> Numbers(const toml::node& node, std::string_view key,
                                          std::string_view what, int low, int high);
  // The path of a file the service creates or appends to, when its folder
  // lets it; nothing, noted, otherwise, so that the start does not fail on
  // it later.
  std::optional<std::string> WritableFile(const toml::table& table, std::string_view key);
  // The array of tables ([[key]]); none, noted, when the key is something else.
  const toml::array& Tables(const toml::table& root, std::string_view key);

 private:
  struct Noted {
    int line = 0;
    std::string text;
  };

  std::string file_;
  std::vector<Noted> problems_;
};

}  // namespace quorlan::station
