#include "tests/support/json.h"

#include <cctype>
#include <cstdlib>

namespace kova_test {

namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : s_(text) {}

  bool document(Json* out) {
    if (!value(out, 0)) return false;
    space();
    return pos_ == s_.size();
  }

 private:
  void space() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool take(char c) {
    space();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool word(const char* w) {
    const std::string text(w);
    if (s_.compare(pos_, text.size(), text) != 0) return false;
    pos_ += text.size();
    return true;
  }

  bool string(std::string* out) {
    if (!take('"')) return false;
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= s_.size()) return false;
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/': *out += e; break;
        case 'n': *out += '\n'; break;
        case 't': *out += '\t'; break;
        case 'r': *out += '\r'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'u': {
          if (pos_ + 4 > s_.size()) return false;
          for (size_t k = 0; k < 4; ++k) {
            if (!std::isxdigit(static_cast<unsigned char>(s_[pos_ + k]))) return false;
          }
          const long code = std::strtol(s_.substr(pos_, 4).c_str(), nullptr, 16);
          pos_ += 4;
          if (code >= 0x80) return false;  // what kova writes stays ASCII
          *out += static_cast<char>(code);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool number(Json* out) {
    const size_t start = pos_;
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    const auto digits = [&] {
      const size_t from = pos_;
      while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
      return pos_ > from;
    };
    if (!digits()) return false;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!digits()) return false;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (!digits()) return false;
    }
    out->kind = Json::Kind::kNumber;
    out->text = s_.substr(start, pos_ - start);
    out->number = std::strtod(out->text.c_str(), nullptr);
    return true;
  }

  bool value(Json* out, int depth) {
    if (depth > 64) return false;
    space();
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      out->kind = Json::Kind::kObject;
      if (take('}')) return true;
      do {
        std::string key;
        space();
        if (!string(&key) || !take(':')) return false;
        Json member;
        if (!value(&member, depth + 1)) return false;
        out->members[key] = std::move(member);
      } while (take(','));
      return take('}');
    }
    if (c == '[') {
      ++pos_;
      out->kind = Json::Kind::kArray;
      if (take(']')) return true;
      do {
        Json item;
        if (!value(&item, depth + 1)) return false;
        out->items.push_back(std::move(item));
      } while (take(','));
      return take(']');
    }
    if (c == '"') {
      out->kind = Json::Kind::kString;
      return string(&out->text);
    }
    if (word("true") || word("false")) {
      out->kind = Json::Kind::kBool;
      out->boolean = s_[pos_ - 1] == 'e' && s_.compare(pos_ - 4, 4, "true") == 0;
      return true;
    }
    if (word("null")) return true;
    return number(out);
  }

  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
  static const Json kNull;
  const auto it = members.find(key);
  return it == members.end() ? kNull : it->second;
}

std::optional<Json> parseJson(const std::string& text) {
  Json document;
  Reader reader(text);
  if (!reader.document(&document)) return std::nullopt;
  return document;
}

}  // namespace kova_test
