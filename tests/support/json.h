// A small JSON reader for tests that check what kova writes: strict enough to
// refuse a damaged file (a missing bracket, a trailing comma, a bad escape),
// no more.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kova_test {

struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // a string's value, or a number as written
  std::vector<Json> items;
  std::map<std::string, Json> members;

  // A member of an object (a null value when absent).
  const Json& operator[](const std::string& key) const;
  const Json& operator[](size_t i) const { return items.at(i); }
  bool has(const std::string& key) const { return members.count(key) != 0; }
  // A number written as a whole number, read exactly.
  unsigned long long u64() const { return std::stoull(text); }
};

// The document, or nothing when `text` is not exactly one JSON value.
std::optional<Json> parseJson(const std::string& text);

}  // namespace kova_test
