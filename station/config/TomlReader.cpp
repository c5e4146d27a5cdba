// SPDX-License-Identifier: Apache-2.0
#include "station/config/TomlReader.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>

namespace quorlan::station {

int LineOf(const toml::node& node) {
  return static_cast<int>(node.source().begin.line);
}

std::vector<std::string> TomlReader::Problems() const {
  auto sorted = problems_;
  std::stable_sort(sorted.begin(), sorted.end(), [](const Noted& a, const Noted& b) {
    return (a.line == 0 ? INT_MAX : a.line) < (b.line == 0 ? INT_MAX : b.line);
  });
  std::vector<std::string> lines;
  for (const Noted& noted : sorted) {
    lines.push_back(noted.line > 0 ? fmt::format("{}:{}: {}", file_, noted.line, noted.text)
                                   : fmt::format("{}: {}", file_, noted.text));
  }
  return lines;
}

void TomlReader::CheckKeys(const toml::table& table, std::initializer_list<std::string_view> known,
                           std::string_view section) {
  for (auto&& [key, value] : table) {
    if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
      Problem(LineOf(value), fmt::format("unknown key '{}'{}", key.str(), section));
    }
  }
}

std::optional<std::string> TomlReader::String(const toml::table& table, std::string_view key,
                                              int fallbackLine) {
  const toml::node* node = table.get(key);
  if (!node) {
    if (fallbackLine > 0) Problem(fallbackLine, fmt::format("missing '{}'", key));
    return std::nullopt;
  }
  if (!node->is_string()) {
    Problem(LineOf(*node), fmt::format("'{}' must be a string", key));
    return std::nullopt;
  }
  return node->as_string()->get();
}

std::optional<int> TomlReader::Integer(const toml::node& node, std::string_view key, int low,
                                       int high) {
  if (!node.is_integer()) {
    Problem(LineOf(node), fmt::format("'{}' must be an integer", key));
    return std::nullopt;
  }
  const std::int64_t value = node.as_integer()->get();
  if (value < low || value > high) {
    Problem(LineOf(node), fmt::format("'{}' must be {}..{}", key, low, high));
    return std::nullopt;
  }
  return static_cast<int>(value);
}

std::optional<int> TomlReader::OptionalInteger(const toml::table& table, std::string_view key,
                                               int low, int high) {
  const toml::node* node = table.get(key);
  if (!node) return std::nullopt;
  return Integer(*node, key, low, high);
}

std::optional<std::vector<int>> TomlReader::Numbers(const toml::node& node, std::string_view key,
                                                    std::string_view what, int low, int high) {
  if (!node.is_array() || node.as_array()->empty()) {
    Problem(LineOf(node), fmt::format("'{}' must be a list of {}s", key, what));
    return std::nullopt;
  }
  std::vector<int> numbers;
  bool whole = true;
  for (const toml::node& item : *node.as_array()) {
    const auto number = Integer(item, key, low, high);
    if (!number) {
      whole = false;
    } else if (std::find(numbers.begin(), numbers.end(), *number) != numbers.end()) {
      Problem(LineOf(item), fmt::format("{} {} twice in '{}'", what, *number, key));
      whole = false;
    } else {
      numbers.push_back(*number);
    }
  }
  if (!whole) return std::nullopt;
  return numbers;
}

const toml::array& TomlReader::Tables(const toml::table& root, std::string_view key) {
  static const toml::array kNone;
  const toml::node* node = root.get(key);
  if (!node) return kNone;
  if (!node->is_array_of_tables()) {
    Problem(LineOf(*node), fmt::format("'{}' must be an array of tables ([[{}]])", key, key));
    return kNone;
  }
  return *node->as_array();
}

std::optional<std::string> TomlReader::WritableFile(const toml::table& table,
                                                    std::string_view key) {
  const auto path = String(table, key, 0);
  if (!path) return std::nullopt;
  const int at = LineOf(*table.get(key));
  namespace fs = std::filesystem;
  const fs::path file(*path);
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::error_code error;
  if (path->empty() || !file.has_filename()) {
    Problem(at, fmt::format("'{}' must name a file", key));
  } else if (!fs::is_directory(folder, error)) {
    Problem(at, fmt::format("'{}' {}: the folder {} does not exist", key, *path, folder.string()));
  } else if (access(folder.c_str(), W_OK) != 0) {
    Problem(at,
            fmt::format("'{}' {}: the folder {} cannot be written", key, *path, folder.string()));
  } else if (fs::is_directory(file, error)) {
    Problem(at, fmt::format("'{}' {} is a folder", key, *path));
  } else if (fs::exists(file, error) && access(file.c_str(), W_OK) != 0) {
    Problem(at, fmt::format("'{}' {} cannot be written", key, *path));
  } else {
    return path;
  }
  return std::nullopt;
}

}  // namespace quorlan::station
