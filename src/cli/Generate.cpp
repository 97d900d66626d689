// SPDX-License-Identifier: GPL-3.0-or-later
// The manual page's command section and the shell completions' command data,
// made from the command table (see Generate.h).

#include "Generate.h"

#include <cctype>
#include <sstream>

#include "Cli.h"

namespace tessarook::cli {

namespace {

// ---- Manual page

// Text as troff shows it literally.
std::string Troff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  return out;
}

// One troff text line; a line troff would take for a request is protected.
std::string TroffLine(const std::string& text) {
  const std::string line = Troff(text);
  return (!line.empty() && (line[0] == '.' || line[0] == '\'') ? "\\&" : "") + line + "\n";
}

std::string TroffParagraphs(const std::string& text) {
  std::string out;
  for (const std::string& paragraph : Paragraphs(text)) {
    out += ".IP\n";
    if (paragraph.rfind("  ", 0) == 0) {
      out += ".nf\n";
      std::istringstream lines(paragraph);
      for (std::string line; std::getline(lines, line);) out += TroffLine(line.substr(2));
      out += ".fi\n";
      continue;
    }
    // One sentence a line, as troff sources are kept.
    std::string sentence;
    for (size_t i = 0; i < paragraph.size(); ++i) {
      const char c = paragraph[i] == '\n' ? ' ' : paragraph[i];
      sentence += c;
      if ((c == '.' || c == ':' || c == ';') && i + 1 < paragraph.size() &&
          paragraph[i + 1] == ' ') {
        out += TroffLine(sentence);
        sentence.clear();
        ++i;
      }
    }
    if (!sentence.empty()) out += TroffLine(sentence);
  }
  return out;
}

std::string TroffSynopsis(const Command& c) {
  std::string out = "\\fB" + Troff(c.name) + "\\fR";
  for (const ArgSpec& a : c.args) {
    const bool optional = a.count == ArgSpec::Count::kOptional || a.count == ArgSpec::Count::kAny;
    const bool many = a.count == ArgSpec::Count::kOneOrMore || a.count == ArgSpec::Count::kAny;
    out += std::string(" ") + (optional ? "[" : "") + "\\fI" + Troff(a.meta) + "\\fR" +
           (many ? "..." : "") + (optional ? "]" : "");
  }
  if (!c.options.empty()) out += " [\\fIOPTION\\fR...]";
  return out + "\n";
}

std::string Sentence(const std::string& summary) {
  std::string s = summary;
  if (!s.empty()) s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  return s + ".";
}

// ---- Completions

const char* KindWord(Kind kind) {
  switch (kind) {
    case Kind::kText:
      return "text";
    case Kind::kNumber:
      return "number";
    case Kind::kScheme:
      return "scheme";
    case Kind::kSchemeName:
      return "schemename";
    case Kind::kBackup:
      return "backup";
    case Kind::kBackupPath:
      return "backuppath";
    case Kind::kPath:
      return "path";
    case Kind::kFolder:
      return "folder";
    case Kind::kCsm:
      return "csm";
    case Kind::kWords:
      return "words";
    case Kind::kCommand:
      return "command";
  }
  return "text";
}

// "backup", "words:name|time|size": what a completion offers for an argument
// or an option's value.
std::string Offer(Kind kind, const std::string& meta) {
  return kind == Kind::kWords ? "words:" + meta : KindWord(kind);
}

// The words of a kWords meta text ("name|time|size"), separated by blanks.
std::string Words(const std::string& meta) {
  std::string words = meta;
  for (char& c : words)
    if (c == '|') c = ' ';
  return words;
}

// What zsh's _arguments runs (or, for words, offers) for a value.
std::string ZshAction(Kind kind, const std::string& meta) {
  return kind == Kind::kWords ? "(" + Words(meta) + ")"
                              : "_tessarook_cli_offer " + Offer(kind, meta);
}

// What fish's complete -a gets for a value.
std::string FishCandidates(Kind kind, const std::string& meta) {
  return kind == Kind::kWords ? Words(meta) : "(__tessarook_cli_offer " + Offer(kind, meta) + ")";
}

bool Repeats(const ArgSpec& a) {
  return a.count == ArgSpec::Count::kOneOrMore || a.count == ArgSpec::Count::kAny;
}

// Single-quoted for bash, zsh and fish alike (fish takes \' inside single quotes).
std::string ShellQuoted(const std::string& text, bool fish = false) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += fish ? "\\'" : "'\\''";
    else if (fish && c == '\\')
      out += "\\\\";
    else
      out += c;
  }
  return out + "'";
}

std::string AllCommandNames() {
  std::string names;
  for (const Command& c : Commands()) names += (names.empty() ? "" : " ") + c.name;
  return names;
}

// A zsh _arguments description: no ']' or ':' of its own, quoted for the shell.
std::string ZshDescription(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string ZshOption(const OptionSpec& o) {
  std::string spec = o.name + "[" + ZshDescription(o.description) + "]";
  if (o.TakesValue()) spec += ":" + o.value + ":" + ZshAction(o.kind, o.value);
  return ShellQuoted(spec);
}

std::string FishOption(const std::string& condition, const OptionSpec& o) {
  std::string line = "complete -c tessarook-cli";
  if (!condition.empty()) line += " -n " + ShellQuoted(condition, true);
  line += " -l " + o.name.substr(2);
  if (o.TakesValue()) line += " -x -a " + ShellQuoted(FishCandidates(o.kind, o.value), true);
  return line + " -d " + ShellQuoted(o.description, true) + "\n";
}

}  // namespace

std::string ManCommandSection() {
  std::string out = ".SH COMMANDS\n";
  std::string topic;
  for (const Command& c : Commands()) {
    if (c.topic != topic) {
      topic = c.topic;
      out += ".SS \"" + Troff(topic) + "\"\n";
    }
    out += ".TP\n" + TroffSynopsis(c) + TroffLine(Sentence(c.summary));
    if (!c.help.empty()) out += TroffParagraphs(c.help);
    if (!c.options.empty()) {
      out += ".RS\n";
      for (const OptionSpec& o : c.options) {
        out += ".TP\n\\fB" + Troff(o.name) + "\\fR";
        if (o.TakesValue()) out += " \\fI" + Troff(o.value) + "\\fR";
        out += "\n" + TroffLine(Sentence(o.description));
      }
      out += ".RE\n";
    }
  }
  return out;
}

std::string BashCompletionData() {
  std::string out =
      "# The commands, their options and arguments: made by the build from the\n"
      "# program's own table.\n"
      "_tessarook_cli_commands=" +
      ShellQuoted(AllCommandNames()) +
      "\n\n"
      "# Sets the caller's \"options\" (the names), \"values\" (what each option's value\n"
      "# is) and \"slots\" (what each argument is; the last may end in \"...\") for\n"
      "# command $1, or for the program's own options when $1 is empty.\n"
      "_tessarook_cli_spec() {\n"
      "    case $1 in\n";
  auto specOf = [](const std::string& pattern, const std::vector<OptionSpec>& options,
                   const std::vector<ArgSpec>& args) {
    std::string names, values, slots;
    for (const OptionSpec& o : options) {
      names += (names.empty() ? "" : " ") + o.name;
      if (o.TakesValue()) values += " [" + o.name + "]=" + ShellQuoted(Offer(o.kind, o.value));
    }
    for (const ArgSpec& a : args)
      slots += (slots.empty() ? "" : " ") +
               ShellQuoted(Offer(a.kind, a.meta) + (Repeats(a) ? "..." : ""));
    std::string out = "        " + pattern + ")\n";
    out += "            options=" + ShellQuoted(names) + "\n";
    if (!values.empty()) out += "            values+=(" + values.substr(1) + ")\n";
    out += "            slots=(" + slots + ")\n";
    return out + "            ;;\n";
  };
  out += specOf("''", GlobalOptions(), {});
  for (const Command& c : Commands()) out += specOf(c.name, c.options, c.args);
  out += "    esac\n}\n";
  return out;
}

std::string ZshCompletionData() {
  std::string out =
      "# The commands, their options and arguments: made by the build from the\n"
      "# program's own table.\n"
      "_tessarook_cli_global_specs=(\n";
  for (const OptionSpec& o : GlobalOptions()) out += "    " + ZshOption(o) + "\n";
  out += ")\n_tessarook_cli_command_list=(\n";
  for (const Command& c : Commands())
    out += "    " + ShellQuoted(c.name + ":" + ZshDescription(c.summary)) + "\n";
  out +=
      ")\n_tessarook_cli_command_specs() {  # the _arguments specs of command $1\n"
      "    case $1 in\n";
  for (const Command& c : Commands()) {
    out += "        " + c.name + ")\n            reply=(";
    for (const OptionSpec& o : c.options) out += "\n                " + ZshOption(o);
    for (const ArgSpec& a : c.args) {
      const bool optional = a.count == ArgSpec::Count::kOptional;
      const std::string spec = (Repeats(a) ? "*:"
                                : optional ? "::"
                                           : ":") +
                               ZshDescription(a.meta) + ":" + ZshAction(a.kind, a.meta);
      out += "\n                " + ShellQuoted(spec);
    }
    out += ")\n            ;;\n";
  }
  out += "    esac\n}\n";
  return out;
}

std::string FishCompletionData() {
  std::string out =
      "# The commands, their options and arguments: made by the build from the\n"
      "# program's own table.\n"
      "set -g __tessarook_cli_commands " +
      AllCommandNames() + "\n";
  // Every option that takes a value, whatever its command: its value is no argument.
  std::string valued;
  for (const OptionSpec& o : GlobalOptions())
    if (o.TakesValue()) valued += " " + o.name;
  for (const Command& c : Commands())
    for (const OptionSpec& o : c.options)
      if (o.TakesValue() && (valued + " ").find(" " + o.name + " ") == std::string::npos)
        valued += " " + o.name;
  out += "set -g __tessarook_cli_valued" + valued + "\n";
  for (const OptionSpec& o : GlobalOptions()) out += FishOption("", o);
  for (const Command& c : Commands()) {
    out += "complete -c tessarook-cli -n '__tessarook_cli_command_is \"\"' -a " + c.name + " -d " +
           ShellQuoted(c.summary, true) + "\n";
    for (const OptionSpec& o : c.options)
      out += FishOption("__tessarook_cli_command_is " + c.name, o);
    for (size_t i = 0; i < c.args.size(); ++i) {
      const ArgSpec& a = c.args[i];
      out += "complete -c tessarook-cli -n " +
             ShellQuoted("__tessarook_cli_at_argument " + c.name + " " + std::to_string(i) +
                             (Repeats(a) ? " more" : ""),
                         true) +
             " -x -a " + ShellQuoted(FishCandidates(a.kind, a.meta), true) + "\n";
    }
  }
  return out;
}

std::string FillTemplate(const std::string& templ, const std::string& data) {
  const std::string marker = "<<TESSAROOK_CLI_TABLE>>";
  const size_t at = templ.find(marker);
  if (at == std::string::npos) return std::string();
  // The whole line holding the marker is replaced.
  const size_t begin = templ.rfind('\n', at) == std::string::npos ? 0 : templ.rfind('\n', at) + 1;
  size_t end = templ.find('\n', at);
  end = end == std::string::npos ? templ.size() : end + 1;
  return templ.substr(0, begin) + data + templ.substr(end);
}

}  // namespace tessarook::cli
