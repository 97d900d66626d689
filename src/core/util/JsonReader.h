// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small reader of JSON documents, for the output of programs the core runs
// (rclone's listings and log lines). Input is untrusted: nesting is bounded,
// nothing is allocated beyond the text's own size, and malformed text is
// refused as a whole.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessarook {

class CJsonValue {
 public:
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

  // Parses one complete document (surrounding white space allowed). False on
  // malformed text or nesting deeper than 64; `*this` is then null.
  bool Parse(std::string_view text);

  Type GetType() const { return m_type; }
  bool IsObject() const { return m_type == Type::kObject; }
  bool IsArray() const { return m_type == Type::kArray; }

  // The member of an object named `key` (the first one), or null when there
  // is none or this is no object.
  const CJsonValue* Find(std::string_view key) const;
  // Array items, or object members' values in order.
  const std::vector<CJsonValue>& Items() const { return m_items; }

  // The text of a string (UTF-8, escapes resolved); `fallback` for any other type.
  std::string Text(std::string_view fallback = {}) const;
  // A number as a whole number (fractions cut, clamped to int64); `fallback`
  // for any other type.
  int64_t Int(int64_t fallback = 0) const;
  double Real(double fallback = 0) const;
  bool Bool(bool fallback = false) const;

  // Convenience: member `key`'s text / whole number, or the fallback.
  std::string TextOf(std::string_view key, std::string_view fallback = {}) const;
  int64_t IntOf(std::string_view key, int64_t fallback = 0) const;

 private:
  friend class CJsonParser;
  Type m_type = Type::kNull;
  bool m_bool = false;
  double m_number = 0;
  std::string m_text;               // string value
  std::vector<std::string> m_keys;  // object member names, parallel to m_items
  std::vector<CJsonValue> m_items;  // array items or object member values
};

}  // namespace tessarook
