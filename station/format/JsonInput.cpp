// SPDX-License-Identifier: Apache-2.0
#include "station/format/JsonInput.h"

#include <fmt/format.h>

#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "station/base/Money.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

// Where byte `offset` of the body lies, from 1; continuation bytes of UTF-8
// do not count as columns.
std::pair<int, int> LineAndColumn(std::string_view body, std::size_t offset) {
  int line = 1, column = 1;
  for (std::size_t i = 0; i < offset && i < body.size(); ++i) {
    const auto byte = static_cast<unsigned char>(body[i]);
    if (byte == '\n') {
      ++line;
      column = 1;
    } else if ((byte & 0xC0) != 0x80) {
      ++column;
    }
  }
  return {line, column};
}

// Builds the document from the parser's events, refusing a key that its
// object already has.
class StrictBuilder {
 public:
  explicit StrictBuilder(json& root) : root_(root) {}

  bool null() { return Add(nullptr); }
  bool boolean(bool value) { return Add(value); }
  bool number_integer(json::number_integer_t value) { return Add(value); }
  bool number_unsigned(json::number_unsigned_t value) { return Add(value); }
  bool number_float(json::number_float_t value, const json::string_t& text) {
    return Add(HasDigitsPastHundredths(text) ? std::numeric_limits<double>::quiet_NaN() : value);
  }
  bool string(json::string_t& value) { return Add(std::move(value)); }
  bool binary(json::binary_t&) { return false; }  // JSON text has none

  bool start_object(std::size_t) {
    Open(json::object());
    keys_.emplace_back();
    return true;
  }
  bool key(json::string_t& key) {
    if (!keys_.back().insert(key).second) {
      duplicate_ = key;
      return false;
    }
    key_ = key;
    return true;
  }
  bool end_object() {
    keys_.pop_back();
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    Open(json::array());
    return true;
  }
  bool end_array() {
    open_.pop_back();
    return true;
  }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
    errorAt_ = position;
    return false;
  }

  const std::optional<std::string>& Duplicate() const { return duplicate_; }
  std::optional<std::size_t> ErrorAt() const { return errorAt_; }

 private:
  // The new value's place: the root, the end of the open array, or the
  // open object's current key. A container's place stays put while it is
  // open, since its parent grows only after it closes.
  json* Place(json value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    json& slot = parent[key_];
    slot = std::move(value);
    return &slot;
  }
  bool Add(json value) {
    Place(std::move(value));
    return true;
  }
  void Open(json container) { open_.push_back(Place(std::move(container))); }

  json& root_;
  std::vector<json*> open_;
  std::vector<std::set<std::string>> keys_;
  std::string key_;
  std::optional<std::string> duplicate_;
  std::optional<std::size_t> errorAt_;
};

}  // namespace

MalformedJson::MalformedJson(int line, int column)
    : InputError(fmt::format("malformed JSON at line {}, column {}", line, column)),
      line_(line),
      column_(column) {}

json ParseRequestBody(std::string_view body) {
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    throw InputError("the body is empty; JSON is expected");
  }
  json root;
  StrictBuilder builder(root);
  if (json::sax_parse(body, &builder, json::input_format_t::json, true)) return root;
  if (builder.Duplicate()) {
    throw InputError("the key '" + *builder.Duplicate() + "' is given twice in one object");
  }
  // The parser counts the offending character as read.
  const std::size_t at = builder.ErrorAt().value_or(body.size());
  const auto [line, column] = LineAndColumn(body, at > 0 ? at - 1 : 0);
  throw MalformedJson(line, column);
}

}  // namespace quorlan::station
