// A strict reader of one JSON text (RFC 8259), for tests that check that
// what the tool writes is valid JSON and read its values back.
#ifndef AMPDOTS_TESTS_SUPPORT_JSON_READER_H_
#define AMPDOTS_TESTS_SUPPORT_JSON_READER_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ampdots::testing {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0.0;
  std::string text;  ///< a string's value, UTF-8
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& key) const {
    static const Json missing;
    const auto it = members.find(key);
    return it == members.end() ? missing : it->second;
  }
  const Json& operator[](std::size_t i) const { return items.at(i); }
  bool Has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonReader {
 public:
  /// Reads `text` whole; false when it is not exactly one valid JSON value.
  static bool Read(std::string_view text, Json& value) {
    JsonReader reader(text);
    return reader.Value(value) && (reader.Blank(), reader.at_ == text.size());
  }

 private:
  explicit JsonReader(std::string_view text) : s_(text) {}

  void Blank() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r'))
      ++at_;
  }
  bool Eat(char c) {
    Blank();
    if (at_ < s_.size() && s_[at_] == c) return ++at_, true;
    return false;
  }
  bool Word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  bool Value(Json& v) {
    Blank();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') return Object(v);
    if (c == '[') return Array(v);
    if (c == '"') return v.kind = Json::kString, String(v.text);
    if (c == 't' || c == 'f') {
      v.kind = Json::kBool;
      v.boolean = c == 't';
      return Word(c == 't' ? "true" : "false");
    }
    if (c == 'n') return v.kind = Json::kNull, Word("null");
    return Number(v);
  }

  bool Number(Json& v) {
    const std::size_t start = at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    if (at_ < s_.size() && s_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (at_ < s_.size() && s_[at_] == '.' && (++at_, !digits())) return false;
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    v.kind = Json::kNumber;
    v.number = std::strtod(std::string(s_.substr(start, at_ - start)).c_str(), nullptr);
    return true;
  }

  static void PutUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool String(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;  // control characters must be escaped
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= s_.size()) return false;
      const char e = s_[at_++];
      const std::string_view simple = "\"\\/bfnrt";
      const std::string_view meant = "\"\\/\b\f\n\r\t";
      if (const auto k = simple.find(e); k != std::string_view::npos) {
        out += meant[k];
      } else if (e == 'u' && at_ + 4 <= s_.size()) {
        const std::string hex(s_.substr(at_, 4));
        char* end = nullptr;
        const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
        if (end != hex.c_str() + 4) return false;
        at_ += 4;
        PutUtf8(out, static_cast<unsigned>(code));
      } else {
        return false;
      }
    }
    return false;
  }

  bool Array(Json& v) {
    v.kind = Json::kArray;
    ++at_;
    if (Eat(']')) return true;
    do {
      v.items.emplace_back();
      if (!Value(v.items.back())) return false;
    } while (Eat(','));
    return Eat(']');
  }

  bool Object(Json& v) {
    v.kind = Json::kObject;
    ++at_;
    if (Eat('}')) return true;
    do {
      Blank();
      std::string key;
      if (at_ >= s_.size() || s_[at_] != '"' || !String(key) || !Eat(':')) return false;
      if (!Value(v.members[key])) return false;
    } while (Eat(','));
    return Eat('}');
  }

  std::string_view s_;
  std::size_t at_ = 0;
};

/// The lines of JSON Lines text, each read as one value; an invalid line
/// fails the calling test.
inline std::vector<Json> ReadJsonLines(const std::string& text) {
  std::vector<Json> records;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    if (end == std::string::npos) {
      ADD_FAILURE() << "the last line has no newline";
      break;
    }
    Json value;
    if (!JsonReader::Read(std::string_view(text).substr(from, end - from), value)) {
      ADD_FAILURE() << "not JSON: " << text.substr(from, end - from);
    }
    records.push_back(std::move(value));
    from = end + 1;
  }
  return records;
}

/// RFC 4180 records: fields by commas, quoted fields with doubled quotes,
/// every record ending in CRLF; a bare LF or CR fails the calling test.
inline std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& field = rows.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty()) {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      rows.emplace_back(1);
    } else if (c == '\r' || c == '\n') {
      ADD_FAILURE() << "a line break that is not CRLF at byte " << i;
    } else {
      field += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) {
    rows.pop_back();
  } else {
    ADD_FAILURE() << "the last record has no CRLF";
  }
  return rows;
}

}  // namespace ampdots::testing

#endif  // AMPDOTS_TESTS_SUPPORT_JSON_READER_H_
