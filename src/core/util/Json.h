// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small writer of JSON documents for the command-line program's
// machine-readable output.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessarook {

// The JSON string literal of `text`, quotes included. Text is taken as UTF-8:
// '"', '\\' and control characters are escaped (\n, \t, \r, \b, \f, else
// \u00XX; also U+007F); every byte that is not part of a valid UTF-8 sequence
// becomes U+FFFD. The result is plain ASCII apart from valid UTF-8 passed on.
std::string JsonQuote(std::string_view text);

// True when `text` is valid UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view text);

// Appends code point `cp` (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);

// Builds one compact JSON document. Keys and values are added in order;
// commas are placed by the writer. Misuse (a value without a key inside an
// object, unbalanced ends) is the caller's fault and is not checked.
class CJsonWriter {
 public:
  CJsonWriter& BeginObject();
  CJsonWriter& EndObject();
  CJsonWriter& BeginArray();
  CJsonWriter& EndArray();
  CJsonWriter& Key(std::string_view key);

  CJsonWriter& String(std::string_view value);
  CJsonWriter& Number(int64_t value);
  CJsonWriter& Number(uint64_t value);
  CJsonWriter& Number(int value) { return Number(static_cast<int64_t>(value)); }
  CJsonWriter& Number(unsigned value) { return Number(static_cast<uint64_t>(value)); }
  CJsonWriter& Bool(bool value);
  CJsonWriter& Null();

  // Key and string value. Text that is not valid UTF-8 cannot travel in JSON
  // unchanged: the value is then written with U+FFFD for the bad bytes and a
  // second member, key + "_hex", holds its exact bytes as lower-case hex.
  CJsonWriter& Bytes(std::string_view key, std::string_view value);

  // The document so far, and a newline after it.
  std::string Text() const { return m_out + "\n"; }

 private:
  void BeforeValue();

  std::string m_out;
  std::vector<bool> m_first;  // per open container: nothing written in it yet
  bool m_afterKey = false;
};

}  // namespace tessarook
