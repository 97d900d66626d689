#include "settings/XmlSettingsDoc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

#include "util/AtomicFile.h"
#include "util/PathUtil.h"

namespace tessarook {

namespace {

// The parser and the tree's destructor recurse once per nesting level, so a
// file with very many tags could exhaust the stack. Every level needs a "<",
// and a real settings file has a few dozen; more than this is refused.
constexpr std::size_t kMaxMarkup = 2000;

// The library checks each attribute of an element against all earlier ones,
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
TiXmlNode* FindChild(TiXmlNode* node, const std::string& name) {
  for (TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
    if (child->Type() == TiXmlNode::TINYXML_ELEMENT && child->ValueStr() == name) return child;
  }
  return nullptr;
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
class CSettingsPrinter : public TiXmlVisitor {
 public:
  bool VisitEnter(const TiXmlDocument&) override { return true; }
  bool VisitExit(const TiXmlDocument&) override { return true; }

  bool VisitEnter(const TiXmlElement& element, const TiXmlAttribute* attribute) override {
    Indent();
    out_ += '<';
    out_ += element.ValueStr();
    for (; attribute != nullptr; attribute = attribute->Next()) {
      out_ += ' ';
      out_ += attribute->NameTStr();
      out_ += "=\"";
      out_ += Escape(attribute->ValueStr());
      out_ += '"';
    }
    const TiXmlNode* first = element.FirstChild();
    if (first == nullptr) {
      out_ += " />\n";
      return true;
    }
    out_ += '>';
    const TiXmlText* text = first->ToText();
    if (text != nullptr && first == element.LastChild() && !text->CDATA()) {
      inlineText_ = true;
    } else {
      out_ += '\n';
    }
    ++depth_;
    return true;
  }

  bool VisitExit(const TiXmlElement& element) override {
    if (element.FirstChild() == nullptr) return true;
    --depth_;
    if (inlineText_) {
      inlineText_ = false;
    } else {
      Indent();
    }
    out_ += "</";
    out_ += element.ValueStr();
    out_ += ">\n";
    return true;
  }

  bool Visit(const TiXmlDeclaration& declaration) override {
    Indent();
    out_ += "<?xml ";
    Attribute("version", declaration.Version());
    Attribute("encoding", declaration.Encoding());
    Attribute("standalone", declaration.Standalone());
    out_ += "?>\n";
    return true;
  }

  bool Visit(const TiXmlText& text) override {
    if (inlineText_) {
      out_ += Escape(text.ValueStr());
      return true;
    }
    Indent();
    if (text.CDATA() && text.ValueStr().find("]]>") == std::string::npos) {
      out_ += "<![CDATA[" + text.ValueStr() + "]]>\n";
    } else {
      out_ += Escape(text.ValueStr()) + "\n";
    }
    return true;
  }

  bool Visit(const TiXmlComment& comment) override {
    Indent();
    out_ += "<!--" + comment.ValueStr() + "-->\n";
    return true;
  }

  bool Visit(const TiXmlUnknown& unknown) override {
    Indent();
    out_ += "<" + unknown.ValueStr() + ">\n";
    return true;
  }

  const std::string& Text() const { return out_; }

 private:
  void Indent() {
    for (int i = 0; i < depth_; ++i) out_ += "    ";
  }
  void Attribute(const char* name, const char* value) {
    if (value == nullptr || *value == '\0') return;
    out_ += name;
    out_ += "=\"";
    out_ += Escape(value);
    out_ += "\" ";
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

CXmlSettingsDoc::CXmlSettingsDoc() : doc_(std::make_unique<TiXmlDocument>()) {}

CXmlSettingsDoc::~CXmlSettingsDoc() = default;

bool CXmlSettingsDoc::CreateNew() {
  if (ready_) return false;
  doc_->LinkEndChild(new TiXmlDeclaration("1.0", "windows-1252", ""));
  ready_ = true;
  return true;
}

bool CXmlSettingsDoc::LoadFromFile(const std::string& path) {
  std::string bytes;
  if (!ReadSmallFile(ResolveAgainstModule(path), kMaxFileSize, bytes)) {
    doc_ = std::make_unique<TiXmlDocument>();
    ready_ = false;
    return false;
  }
  return LoadFromText(bytes);
}

bool CXmlSettingsDoc::LoadFromText(std::string_view text) {
  doc_ = std::make_unique<TiXmlDocument>();
  ready_ = false;
  if (text.size() > kMaxFileSize) return false;

  // Line ends become "\n" as the library's own file loader does; the text
  // ends at the first NUL byte, as it would there.
  std::string data;
  data.reserve(text.size() + 8);
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
  // The library may step up to three bytes past a multi-byte lead byte at the
  // very end of the text; the padding keeps that inside this buffer.
  data.append(8, '\0');

  // Values are read as written: the library would otherwise fold runs of
  // white space into one blank and trim both ends, so that " 1 " read as "1".
  // The setting is the library's own, for the whole program; this class is
  // the program's only user of the library, and every parse passes here.
  static std::once_flag keepWhiteSpace;
  std::call_once(keepWhiteSpace, [] { TiXmlBase::SetCondenseWhiteSpace(false); });
  doc_->Parse(data.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  if (doc_->Error()) {
    doc_ = std::make_unique<TiXmlDocument>();
    return false;
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

TiXmlNode* CXmlSettingsDoc::FindNode(std::string_view key) const {
  if (!ready_) return nullptr;
  TiXmlNode* node = doc_.get();
  for (const std::string& part : SplitKey(key)) {
    node = FindChild(node, part);
    if (node == nullptr) return nullptr;
  }
  return node;
}

bool CXmlSettingsDoc::HasPath(std::string_view key) const { return FindNode(key) != nullptr; }

std::string CXmlSettingsDoc::GetValue(std::string_view key) const {
  const TiXmlNode* node = FindNode(key);
  if (node == nullptr) return std::string();
  // The setting's text; an element holding a comment or other elements
  // before (or instead of) its text is read by that text alone.
  for (const TiXmlNode* child = node->FirstChild(); child != nullptr;
       child = child->NextSibling()) {
    if (child->Type() == TiXmlNode::TINYXML_TEXT) return child->ValueStr();
  }
  return std::string();
}

bool CXmlSettingsDoc::RemovePath(std::string_view key) {
  if (!ready_) return false;
  const std::vector<std::string> parts = SplitKey(key);
  TiXmlNode* node = doc_.get();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    TiXmlNode* child = FindChild(node, parts[i]);
    if (child == nullptr) return i + 1 == parts.size();
    if (i + 1 == parts.size()) return node->RemoveChild(child);
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
  // of the key that already exists.
  TiXmlNode* chain = new TiXmlText(std::string(value));
  for (std::size_t i = parts.size(); i-- > 0;) {
    TiXmlNode* parent = doc_.get();
    for (std::size_t j = 0; j <= i && parent != nullptr; ++j) parent = FindChild(parent, parts[j]);
    if (parent != nullptr) {
      parent->LinkEndChild(chain);
      return;
    }
    TiXmlNode* element = new TiXmlElement(parts[i]);
    element->LinkEndChild(chain);
    chain = element;
  }
  doc_->LinkEndChild(chain);
}

}  // namespace tessarook
