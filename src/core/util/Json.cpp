// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/Json.h"

namespace tessarook {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when the byte there
// does not start one.
size_t Utf8SequenceAt(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t len;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;  // a continuation byte, an overlong lead (C0, C1) or beyond F4
  }
  if (i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
  if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
  return len;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t n = Utf8SequenceAt(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string JsonQuote(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = Utf8SequenceAt(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for one bad byte
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void CJsonWriter::BeforeValue() {
  if (m_afterKey) {
    m_afterKey = false;
    return;
  }
  if (!m_first.empty()) {
    if (!m_first.back()) m_out += ',';
    m_first.back() = false;
  }
}

CJsonWriter& CJsonWriter::BeginObject() {
  BeforeValue();
  m_out += '{';
  m_first.push_back(true);
  return *this;
}

CJsonWriter& CJsonWriter::EndObject() {
  m_out += '}';
  if (!m_first.empty()) m_first.pop_back();
  return *this;
}

CJsonWriter& CJsonWriter::BeginArray() {
  BeforeValue();
  m_out += '[';
  m_first.push_back(true);
  return *this;
}

CJsonWriter& CJsonWriter::EndArray() {
  m_out += ']';
  if (!m_first.empty()) m_first.pop_back();
  return *this;
}

CJsonWriter& CJsonWriter::Key(std::string_view key) {
  BeforeValue();
  m_out += JsonQuote(key);
  m_out += ':';
  m_afterKey = true;
  return *this;
}

CJsonWriter& CJsonWriter::String(std::string_view value) {
  BeforeValue();
  m_out += JsonQuote(value);
  return *this;
}

CJsonWriter& CJsonWriter::Number(int64_t value) {
  BeforeValue();
  m_out += std::to_string(value);
  return *this;
}

CJsonWriter& CJsonWriter::Number(uint64_t value) {
  BeforeValue();
  m_out += std::to_string(value);
  return *this;
}

CJsonWriter& CJsonWriter::Bool(bool value) {
  BeforeValue();
  m_out += value ? "true" : "false";
  return *this;
}

CJsonWriter& CJsonWriter::Null() {
  BeforeValue();
  m_out += "null";
  return *this;
}

CJsonWriter& CJsonWriter::Bytes(std::string_view key, std::string_view value) {
  Key(key).String(value);
  if (IsValidUtf8(value)) return *this;
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(value.size() * 2);
  for (unsigned char c : value) {
    hex += kHex[c >> 4];
    hex += kHex[c & 0xF];
  }
  return Key(std::string(key) + "_hex").String(hex);
}

}  // namespace tessarook
