// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/XmlSettingsDoc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "util/AtomicFile.h"
#include "util/Json.h"
#include "util/PathUtil.h"

namespace tessarook {

using tinyxml2::XMLAttribute;
using tinyxml2::XMLComment;
using tinyxml2::XMLDeclaration;
using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;
using tinyxml2::XMLNode;
using tinyxml2::XMLText;
using tinyxml2::XMLUnknown;

namespace {

// What the declaration of every written document says: the text is UTF-8.
constexpr const char* kDeclaration = "xml version=\"1.0\" encoding=\"UTF-8\" ";

// The parser and the tree's destructor recurse once per nesting level, so a
// file with very many tags could exhaust the stack (the library also stops at
// its own depth limit). Every level needs a "<", and a real settings file has
// a few dozen; more than this is refused.
constexpr std::size_t kMaxMarkup = 2000;

// The parser checks each attribute of an element against all earlier ones,
// so a tag of very many attributes costs time by their square (a mebibyte of
// them takes minutes). A real settings file has none; more than this in one
// tag is refused.
constexpr std::size_t kMaxAttributes = 64;

// A character a tag name may start with; markup starting otherwise is no tag.
bool StartsName(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == ':' || u >= 0x80;
}

// True when some start tag holds more than `limit` attributes (counted by
// their "=" outside quoted values). Comments, CDATA sections, declarations,
// end tags and markup that is no tag (such as "<==>") hold none.
bool HasCrowdedTag(std::string_view text, std::size_t limit) {
  std::size_t i = 0;
  auto skipPast = [&](std::string_view end) {
    const std::size_t at = text.find(end, i);
    i = at == std::string_view::npos ? text.size() : at + end.size();
  };
  while (i < text.size()) {
    if (text[i] != '<') {
      ++i;
      continue;
    }
    const std::string_view rest = text.substr(i);
    if (rest.substr(0, 4) == "<!--") {
      skipPast("-->");
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      skipPast("]]>");
    } else if (rest.size() < 2 || !StartsName(rest[1])) {
      skipPast(">");
    } else {
      std::size_t attributes = 0;
      for (++i; i < text.size() && text[i] != '>'; ++i) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
          const std::size_t close = text.find(c, i + 1);
          if (close == std::string_view::npos) return false;  // the parser refuses it
          i = close;
        } else if (c == '=' && ++attributes > limit) {
          return true;
        }
      }
    }
  }
  return false;
}

std::vector<std::string> SplitKey(std::string_view key) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = key.find('.', start);
    parts.emplace_back(key.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts;
}

// The first child element of `node` whose tag name is `name`, byte for byte.
// Only elements count: a comment or text that happens to read like a key is
// not a setting.
XMLNode* FindChild(XMLNode* node, const std::string& name) {
  for (XMLNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
    const XMLElement* element = child->ToElement();
    if (element != nullptr && name == element->Name()) return child;
  }
  return nullptr;
}

// The value of the pseudo-attribute `name` in a declaration's text (what
// stands between "<?" and "?>"), or "" when it has none.
std::string DeclaredValue(std::string_view declaration, std::string_view name) {
  for (std::size_t at = declaration.find(name); at != std::string_view::npos;
       at = declaration.find(name, at + 1)) {
    if (at > 0 && declaration[at - 1] != ' ' && declaration[at - 1] != '\t' &&
        declaration[at - 1] != '\n') {
      continue;  // part of a longer name
    }
    std::size_t i = at + name.size();
    while (i < declaration.size() && (declaration[i] == ' ' || declaration[i] == '\n')) ++i;
    if (i >= declaration.size() || declaration[i] != '=') continue;
    ++i;
    while (i < declaration.size() && (declaration[i] == ' ' || declaration[i] == '\n')) ++i;
    if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) continue;
    const std::size_t close = declaration.find(declaration[i], i + 1);
    if (close == std::string_view::npos) return std::string();
    return std::string(declaration.substr(i + 1, close - i - 1));
  }
  return std::string();
}

// True for the names under which older versions of the program, and other
// programs writing the single-byte code page, declared their text. Readers
// take ISO-8859-1 and US-ASCII for windows-1252 as well.
bool NamesWindows1252(std::string encoding) {
  for (char& c : encoding) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return encoding == "windows-1252" || encoding == "cp1252" || encoding == "iso-8859-1" ||
         encoding == "latin1" || encoding == "us-ascii";
}

// windows-1252 text as UTF-8. Bytes 0x80 to 0x9F are the code page's own
// characters; the five it leaves free stand for the control characters of
// the same number, as Windows itself reads them.
std::string Windows1252ToUtf8(std::string_view text) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(text.size() * 2);
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    const char32_t cp = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// Escapes text for element content or attribute values. Unlike the library's
// own encoder this always escapes "&" (the library passes "&#x..." through,
// which changes such text on the next read), and when the text would be
// altered by a reader that condenses white space (leading or trailing blanks,
// runs of blanks) its blanks are written as character references.
std::string Escape(const std::string& text) {
  const bool keepBlanks = !text.empty() && (text.front() == ' ' || text.back() == ' ' ||
                                            text.find("  ") != std::string::npos);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case ' ':
        out += keepBlanks ? "&#x20;" : " ";
        break;
      default:
        if (c < 32) {
          out += "&#x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
          out += ';';
        } else {
          out += ch;
        }
    }
  }
  return out;
}

// Prints a document in the library's layout (four-blank indent, one element
// per line, an element holding only text on one line) with the escaping above.
class CSettingsPrinter : public tinyxml2::XMLVisitor {
 public:
  bool VisitEnter(const XMLDocument&) override { return true; }
  bool VisitExit(const XMLDocument&) override { return true; }

  bool VisitEnter(const XMLElement& element, const XMLAttribute* attribute) override {
    Indent();
    out_ += '<';
    out_ += element.Name();
    for (; attribute != nullptr; attribute = attribute->Next()) {
      out_ += ' ';
      out_ += attribute->Name();
      out_ += "=\"";
      out_ += Escape(attribute->Value());
      out_ += '"';
    }
    const XMLNode* first = element.FirstChild();
    if (first == nullptr) {
      out_ += " />\n";
      return true;
    }
    out_ += '>';
    const XMLText* text = first->ToText();
    if (text != nullptr && first == element.LastChild() && !text->CData()) {
      inlineText_ = true;
    } else {
      out_ += '\n';
    }
    ++depth_;
    return true;
  }

  bool VisitExit(const XMLElement& element) override {
    if (element.FirstChild() == nullptr) return true;
    --depth_;
    if (inlineText_) {
      inlineText_ = false;
    } else {
      Indent();
    }
    out_ += "</";
    out_ += element.Name();
    out_ += ">\n";
    return true;
  }

  // The declaration as it stands between "<?" and "?>" (the parser keeps it
  // as one text).
  bool Visit(const XMLDeclaration& declaration) override {
    Indent();
    out_ += "<?";
    out_ += declaration.Value();
    out_ += "?>\n";
    return true;
  }

  bool Visit(const XMLText& text) override {
    const std::string value = text.Value();
    if (inlineText_) {
      out_ += Escape(value);
      return true;
    }
    Indent();
    if (text.CData() && value.find("]]>") == std::string::npos) {
      out_ += "<![CDATA[" + value + "]]>\n";
    } else {
      out_ += Escape(value) + "\n";
    }
    return true;
  }

  bool Visit(const XMLComment& comment) override {
    Indent();
    out_ += "<!--";
    out_ += comment.Value();
    out_ += "-->\n";
    return true;
  }

  bool Visit(const XMLUnknown& unknown) override {
    Indent();
    out_ += "<!";
    out_ += unknown.Value();
    out_ += ">\n";
    return true;
  }

  const std::string& Text() const { return out_; }

 private:
  void Indent() {
    for (int i = 0; i < depth_; ++i) out_ += "    ";
  }

  std::string out_;
  int depth_ = 0;
  bool inlineText_ = false;
};

std::string ResolveAgainstModule(const std::string& path) {
  return IsRelativePath(path) ? MakeModulePath(path) : path;
}

// Reads at most `limit` bytes of a regular file; false for anything else.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& bytes) {
  // O_NONBLOCK: a FIFO put in the file's place must not hang the start-up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uintmax_t>(st.st_size) > limit) {
    ::close(fd);
    return false;
  }
  bytes.clear();
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > limit) {  // the file grew while being read
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

}  // namespace

CXmlSettingsDoc::CXmlSettingsDoc() : doc_(std::make_unique<XMLDocument>()) {}

CXmlSettingsDoc::~CXmlSettingsDoc() = default;

bool CXmlSettingsDoc::CreateNew() {
  if (ready_) return false;
  doc_->InsertEndChild(doc_->NewDeclaration(kDeclaration));
  ready_ = true;
  return true;
}

bool CXmlSettingsDoc::LoadFromFile(const std::string& path) {
  std::string bytes;
  if (!ReadSmallFile(ResolveAgainstModule(path), kMaxFileSize, bytes)) {
    doc_ = std::make_unique<XMLDocument>();
    ready_ = false;
    return false;
  }
  return LoadFromText(bytes);
}

bool CXmlSettingsDoc::LoadFromText(std::string_view text) {
  doc_ = std::make_unique<XMLDocument>();
  ready_ = false;
  if (text.size() > kMaxFileSize) return false;

  // Line ends become "\n", and the text ends at the first NUL byte, as
  // they did with the file loader of the library the program used before.
  std::string data;
  data.reserve(text.size());
  std::size_t markup = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\0') break;
    if (c == '<') ++markup;
    if (c == '\r') {
      data += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      data += c;
    }
  }
  if (markup > kMaxMarkup || HasCrowdedTag(data, kMaxAttributes)) return false;

  // Values are read as written (the document keeps white space): the
  // parser would otherwise fold runs of blanks into one and trim both ends,
  // so that " 1 " read as "1".
  if (doc_->Parse(data.data(), data.size()) != tinyxml2::XML_SUCCESS) {
    doc_ = std::make_unique<XMLDocument>();
    return false;
  }

  // Older versions declared windows-1252 while writing UTF-8, so a file that
  // is valid UTF-8 is read as such whatever it declares. Bytes that are no
  // UTF-8 under that declaration are the code page's characters: such a file
  // is read again as UTF-8 text (at most three bytes for one, well within
  // what a parse may cost).
  const XMLNode* first = doc_->FirstChild();
  const XMLDeclaration* declaration = first != nullptr ? first->ToDeclaration() : nullptr;
  if (declaration != nullptr && NamesWindows1252(DeclaredValue(declaration->Value(), "encoding")) &&
      !IsValidUtf8(data)) {
    doc_ = std::make_unique<XMLDocument>();
    if (doc_->Parse(Windows1252ToUtf8(data).c_str()) != tinyxml2::XML_SUCCESS) {
      doc_ = std::make_unique<XMLDocument>();
      return false;
    }
    // The document now holds UTF-8, and says so when printed.
    doc_->DeleteChild(doc_->FirstChild());
    doc_->InsertFirstChild(doc_->NewDeclaration(kDeclaration));
  }
  ready_ = true;
  return true;
}

bool CXmlSettingsDoc::SaveToFile(const std::string& path) const {
  if (!ready_) return false;
  return WriteFileAtomic(ResolveAgainstModule(path), ToText());
}

std::string CXmlSettingsDoc::ToText() const {
  if (!ready_) return std::string();
  CSettingsPrinter printer;
  doc_->Accept(&printer);
  return printer.Text();
}

XMLNode* CXmlSettingsDoc::FindNode(std::string_view key) const {
  if (!ready_) return nullptr;
  XMLNode* node = doc_.get();
  for (const std::string& part : SplitKey(key)) {
    node = FindChild(node, part);
    if (node == nullptr) return nullptr;
  }
  return node;
}

bool CXmlSettingsDoc::HasPath(std::string_view key) const { return FindNode(key) != nullptr; }

std::string CXmlSettingsDoc::GetValue(std::string_view key) const {
  const XMLNode* node = FindNode(key);
  if (node == nullptr) return std::string();
  // The setting's text; an element holding a comment or other elements
  // before (or instead of) its text is read by that text alone.
  for (const XMLNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
    if (child->ToText() != nullptr) return child->Value();
  }
  return std::string();
}

bool CXmlSettingsDoc::RemovePath(std::string_view key) {
  if (!ready_) return false;
  const std::vector<std::string> parts = SplitKey(key);
  XMLNode* node = doc_.get();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    XMLNode* child = FindChild(node, parts[i]);
    if (child == nullptr) return i + 1 == parts.size();
    if (i + 1 == parts.size()) {
      node->DeleteChild(child);
      return true;
    }
    node = child;
  }
  return false;
}

void CXmlSettingsDoc::SetValue(std::string_view key, std::string_view value) {
  if (!ready_) return;
  const std::vector<std::string> parts = SplitKey(key);
  for (const std::string& part : parts) {
    if (part.empty()) return;  // would make an element without a name
  }
  RemovePath(key);

  // Build the chain from the bottom up and hang it below the deepest part
  // of the key that already exists. The document owns every node it makes.
  XMLNode* chain = doc_->NewText(std::string(value).c_str());
  for (std::size_t i = parts.size(); i-- > 0;) {
    XMLNode* parent = doc_.get();
    for (std::size_t j = 0; j <= i && parent != nullptr; ++j) parent = FindChild(parent, parts[j]);
    if (parent != nullptr) {
      parent->InsertEndChild(chain);
      return;
    }
    XMLNode* element = doc_->NewElement(parts[i].c_str());
    element->InsertEndChild(chain);
    chain = element;
  }
  doc_->InsertEndChild(chain);
}

}  // namespace tessarook
