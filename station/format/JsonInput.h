// SPDX-License-Identifier: Apache-2.0
#pragma once
// Request bodies as the API takes them: JSON with each key once per object,
// and numbers judged by their text, so that a limit of 9999.985 is never
// taken for 9999.99. The errors say what is wrong in the client's terms.

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

namespace quorlan::station {

// A body that is not acceptable JSON; what() is the whole answer's detail.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Not JSON at all: where the text stops making sense (both from 1; the column
// counts characters).
class MalformedJson : public InputError {
 public:
  MalformedJson(int line, int column);
  int Line() const { return line_; }
  int Column() const { return column_; }

 private:
  int line_;
  int column_;
};

// Parses a request body. A number whose text has a digit other than zero past
// the hundredths is kept as NaN: no JSON text is NaN, every money check
// refuses it, and an integer check does not take it either.
nlohmann::json ParseRequestBody(std::string_view body);

}  // namespace quorlan::station
