// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/JsonReader.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "util/Json.h"

namespace tessarook {

class CJsonParser {
 public:
  explicit CJsonParser(std::string_view text) : m_text(text) {}

  bool Document(CJsonValue& out) {
    SkipSpace();
    if (!Value(out, 0)) return false;
    SkipSpace();
    return m_pos == m_text.size();
  }

 private:
  static constexpr int kMaxDepth = 64;

  void SkipSpace() {
    while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                     m_text[m_pos] == '\n' || m_text[m_pos] == '\r'))
      ++m_pos;
  }

  bool Literal(std::string_view word) {
    if (m_text.substr(m_pos, word.size()) != word) return false;
    m_pos += word.size();
    return true;
  }

  bool Value(CJsonValue& out, int depth) {
    if (m_pos >= m_text.size() || depth > kMaxDepth) return false;
    const char c = m_text[m_pos];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      out.m_type = CJsonValue::Type::kString;
      return String(out.m_text);
    }
    if (c == 't' || c == 'f') {
      out.m_type = CJsonValue::Type::kBool;
      out.m_bool = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') {
      out.m_type = CJsonValue::Type::kNull;
      return Literal("null");
    }
    return Number(out);
  }

  bool Number(CJsonValue& out) {
    const size_t start = m_pos;
    if (m_pos < m_text.size() && m_text[m_pos] == '-') ++m_pos;
    const auto digits = [&] {
      const size_t from = m_pos;
      while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') ++m_pos;
      return m_pos > from;
    };
    if (!digits()) return false;
    if (m_pos < m_text.size() && m_text[m_pos] == '.') {
      ++m_pos;
      if (!digits()) return false;
    }
    if (m_pos < m_text.size() && (m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
      ++m_pos;
      if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-')) ++m_pos;
      if (!digits()) return false;
    }
    out.m_type = CJsonValue::Type::kNumber;
    out.m_number = std::strtod(std::string(m_text.substr(start, m_pos - start)).c_str(), nullptr);
    return true;
  }

  bool Hex4(uint32_t& cp) {
    if (m_pos + 4 > m_text.size()) return false;
    cp = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = m_text[m_pos++];
      cp <<= 4;
      if (h >= '0' && h <= '9')
        cp |= static_cast<uint32_t>(h - '0');
      else if (h >= 'a' && h <= 'f')
        cp |= static_cast<uint32_t>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        cp |= static_cast<uint32_t>(h - 'A' + 10);
      else
        return false;
    }
    return true;
  }

  bool String(std::string& out) {
    ++m_pos;  // the opening quote
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (m_pos >= m_text.size()) return false;
      const char e = m_text[m_pos++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = 0;
            if (!Literal("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool Array(CJsonValue& out, int depth) {
    out.m_type = CJsonValue::Type::kArray;
    ++m_pos;
    SkipSpace();
    if (m_pos < m_text.size() && m_text[m_pos] == ']') {
      ++m_pos;
      return true;
    }
    for (;;) {
      SkipSpace();
      out.m_items.emplace_back();
      if (!Value(out.m_items.back(), depth + 1)) return false;
      SkipSpace();
      if (m_pos >= m_text.size()) return false;
      const char c = m_text[m_pos++];
      if (c == ']') return true;
      if (c != ',') return false;
    }
  }

  bool Object(CJsonValue& out, int depth) {
    out.m_type = CJsonValue::Type::kObject;
    ++m_pos;
    SkipSpace();
    if (m_pos < m_text.size() && m_text[m_pos] == '}') {
      ++m_pos;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (m_pos >= m_text.size() || m_text[m_pos] != '"') return false;
      out.m_keys.emplace_back();
      if (!String(out.m_keys.back())) return false;
      SkipSpace();
      if (!Literal(":")) return false;
      SkipSpace();
      out.m_items.emplace_back();
      if (!Value(out.m_items.back(), depth + 1)) return false;
      SkipSpace();
      if (m_pos >= m_text.size()) return false;
      const char c = m_text[m_pos++];
      if (c == '}') return true;
      if (c != ',') return false;
    }
  }

  std::string_view m_text;
  size_t m_pos = 0;
};

bool CJsonValue::Parse(std::string_view text) {
  *this = CJsonValue();
  CJsonParser parser(text);
  if (parser.Document(*this)) return true;
  *this = CJsonValue();
  return false;
}

const CJsonValue* CJsonValue::Find(std::string_view key) const {
  if (m_type != Type::kObject) return nullptr;
  for (size_t i = 0; i < m_keys.size(); ++i)
    if (m_keys[i] == key) return &m_items[i];
  return nullptr;
}

std::string CJsonValue::Text(std::string_view fallback) const {
  return m_type == Type::kString ? m_text : std::string(fallback);
}

int64_t CJsonValue::Int(int64_t fallback) const {
  if (m_type != Type::kNumber || std::isnan(m_number)) return fallback;
  if (m_number >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (m_number <= -9.2e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(m_number);
}

double CJsonValue::Real(double fallback) const {
  return m_type == Type::kNumber ? m_number : fallback;
}

bool CJsonValue::Bool(bool fallback) const { return m_type == Type::kBool ? m_bool : fallback; }

std::string CJsonValue::TextOf(std::string_view key, std::string_view fallback) const {
  const CJsonValue* v = Find(key);
  return v ? v->Text(fallback) : std::string(fallback);
}

int64_t CJsonValue::IntOf(std::string_view key, int64_t fallback) const {
  const CJsonValue* v = Find(key);
  return v ? v->Int(fallback) : fallback;
}

}  // namespace tessarook
