// SPDX-License-Identifier: Apache-2.0
// [[grade]]: a grade's number and its name for the dashboard, the journal
// and reports.

#include <fmt/format.h>

#include <optional>
#include <set>

#include "quorlan/Driver.h"
#include "station/config/Config.h"
#include "station/config/Sections.h"

namespace quorlan::station {

namespace {

// The longest a grade's name may be: it has to fit a till's receipt line.
constexpr std::size_t kMaxGradeName = 32;

std::optional<GradeConfig> Grade(TomlReader& reader, const toml::table& table) {
  const int at = LineOf(table);
  const std::size_t before = reader.ProblemCount();
  reader.CheckKeys(table, {"number", "name"}, " in [[grade]]");
  GradeConfig grade;
  if (const toml::node* number = table.get("number")) {
    grade.number = reader.Integer(*number, "number", 1, int{kLastGrade}).value_or(0);
  } else {
    reader.Problem(at, "[[grade]] needs a 'number'");
  }
  if (const auto name = reader.String(table, "name", at)) {
    grade.name = *name;
    if (grade.name.empty() || grade.name.size() > kMaxGradeName) {
      reader.Problem(LineOf(*table.get("name")),
                     fmt::format("a grade's 'name' must be 1..{} characters", kMaxGradeName));
    }
  }
  if (reader.ProblemCount() != before) return std::nullopt;
  return grade;
}

}  // namespace

void ReadGrades(TomlReader& reader, const toml::table& root, StationConfig& config) {
  std::set<int> grades;
  for (const toml::node& node : reader.Tables(root, "grade")) {
    const auto grade = Grade(reader, *node.as_table());
    if (!grade) continue;
    if (!grades.insert(grade->number).second) {
      reader.Problem(LineOf(*node.as_table()->get("number")),
                     fmt::format("grade {} is named twice", grade->number));
    } else {
      config.grades.push_back(*grade);
    }
  }
}

}  // namespace quorlan::station
