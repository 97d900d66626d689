// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tinyxml2 {
class XMLDocument;
class XMLNode;
}  // namespace tinyxml2

namespace tessarook {

// An XML document whose values are addressed by dotted paths such as
// "settings.dir_schemes": each dot-separated part names the first child, one
// level down, whose value (an element's tag name) matches it exactly.
//
// Not `ready` after construction: every lookup then yields nothing and every
// change is ignored. A successful LoadFromFile or CreateNew makes it ready.
class CXmlSettingsDoc {
 public:
  CXmlSettingsDoc();
  ~CXmlSettingsDoc();
  CXmlSettingsDoc(const CXmlSettingsDoc&) = delete;
  CXmlSettingsDoc& operator=(const CXmlSettingsDoc&) = delete;

  // Files larger than this are refused as not a settings file.
  static constexpr std::size_t kMaxFileSize = 1 << 20;

  bool IsReady() const { return ready_; }

  // Starts an empty document with the declaration (version "1.0", encoding
  // "UTF-8"). Returns false and changes nothing when already ready.
  bool CreateNew();

  // Reads and parses the file. A relative path is taken relative to the
  // executable's folder. The document becomes ready exactly when this succeeds;
  // a failure leaves it empty. Text is read as UTF-8, except a file that
  // declares windows-1252 and is not valid UTF-8, which is read as that code
  // page (values then come out as UTF-8).
  bool LoadFromFile(const std::string& path);

  // Parses XML text held in memory (same rules as LoadFromFile).
  bool LoadFromText(std::string_view text);

  // Writes the document atomically (temporary file + rename). A relative path
  // is taken relative to the executable's folder. False when not ready or the
  // file could not be written; the old file is then left intact.
  bool SaveToFile(const std::string& path) const;

  // The document as the printer writes it ("" when not ready).
  std::string ToText() const;

  // The value of the first child of the node at `key`, or "" when not ready,
  // not found or the node has no child.
  std::string GetValue(std::string_view key) const;

  // True when ready and the whole path resolves.
  bool HasPath(std::string_view key) const;

  // The node at `key`, or null when not ready or not found.
  tinyxml2::XMLNode* FindNode(std::string_view key) const;

  // Removes the node at `key`. False when not ready or a part before the last
  // is missing; true (without change) when only the last part is missing.
  bool RemovePath(std::string_view key);

  // Replaces the node at `key` by one holding `value` as its text, creating
  // the missing elements above it. Ignored when not ready.
  void SetValue(std::string_view key, std::string_view value);

 private:
  std::unique_ptr<tinyxml2::XMLDocument> doc_;
  bool ready_ = false;
};

}  // namespace tessarook
