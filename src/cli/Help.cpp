// SPDX-License-Identifier: GPL-3.0-or-later
// The help texts, made from the command table, and the "did you mean" guess.

#include <algorithm>
#include <iostream>
#include <sstream>

#include "Cli.h"

namespace tessarook::cli {

namespace {

// The words of `text` filled into lines of at most `width` columns, each but
// the first starting with `indent` blanks (the first is the caller's to start).
std::string Fill(const std::string& text, size_t firstColumn, size_t indent, size_t width) {
  std::istringstream words(text);
  std::string word, out;
  size_t column = firstColumn;
  bool lineEmpty = true;
  while (words >> word) {
    if (!lineEmpty && column + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    lineEmpty = false;
  }
  return out;
}

// "  LEFT      right text" with the right text from column `at` on (on the
// next line when LEFT reaches it), wrapped below itself.
std::string TwoColumns(const std::string& left, const std::string& right, size_t at) {
  std::string line = "  " + left;
  if (line.size() + 2 > at)
    line += "\n" + std::string(at, ' ');
  else
    line += std::string(at - line.size(), ' ');
  return line + Fill(right, at, at, kHelpWidth) + "\n";
}

std::string OptionLeft(const OptionSpec& o) {
  return o.name + (o.TakesValue() ? " " + o.value : "");
}

std::string OptionList(const std::vector<OptionSpec>& options) {
  std::string out;
  for (const OptionSpec& o : options) out += TwoColumns(OptionLeft(o), o.description, 24);
  return out;
}

// The synopsis without " [OPTION...]": the command list shows the arguments only.
std::string ArgumentsOnly(const Command& c) {
  std::string s = c.Synopsis();
  const std::string tail = " [OPTION...]";
  if (s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0)
    s.resize(s.size() - tail.size());
  return s;
}

// Edit distance with swapped neighbours counting as one edit.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::vector<std::string> Paragraphs(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\n\n", start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return out;
}

std::string Reflow(const std::string& text, size_t indent, size_t width) {
  std::string out;
  for (const std::string& paragraph : Paragraphs(text)) {
    if (!out.empty()) out += "\n";
    if (paragraph.rfind("  ", 0) == 0) {
      std::istringstream lines(paragraph);
      for (std::string line; std::getline(lines, line);)
        out += std::string(indent, ' ') + line + "\n";
    } else {
      out += std::string(indent, ' ') + Fill(paragraph, indent, indent, width) + "\n";
    }
  }
  return out;
}

std::string UsageText() {
  std::string globals;
  for (const OptionSpec& o : GlobalOptions())
    if (o.name != "--help" && o.name != "--version") globals += "[" + OptionLeft(o) + "] ";
  std::string out = "Usage: tessarook-cli " +
                    Fill(globals + "COMMAND [ARG...]", 21, 21, kHelpWidth) +
                    "\n       tessarook-cli --help | --version | help [COMMAND] | COMMAND --help\n"
                    "\nOptions:\n" +
                    OptionList(GlobalOptions());
  std::string topic;
  for (const Command& c : Commands()) {
    if (c.topic != topic) {
      topic = c.topic;
      out += "\n" + topic + ":\n";
    }
    out += TwoColumns(ArgumentsOnly(c), c.summary, 35);
  }
  out += "\n" + Reflow(
                    "Exit status: 0 success, 1 something was skipped, 2 usage error, 3 failure, "
                    "130 interrupted (129 by a closed terminal, 143 by SIGTERM).\n\n"
                    "Environment: TESSAROOK_SCHEMES_DIR is the My Schemes folder when "
                    "--schemes-dir is not given.",
                    0, kHelpWidth);
  return out;
}

std::string CommandHelpText(const Command& c) {
  std::string out = "Usage: tessarook-cli [global options] " +
                    Fill(c.Synopsis(), 38, 7, kHelpWidth) + "\n\n" + c.summary + "\n";
  if (!c.options.empty()) out += "\nOptions:\n" + OptionList(c.options);
  if (!c.help.empty()) out += "\n" + Reflow(c.help, 0, kHelpWidth);
  return out;
}

std::string Nearest(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = SIZE_MAX;
  size_t prefixed = 0;
  std::string prefixOf;
  for (const std::string& c : candidates) {
    const size_t d = Distance(word, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
    if (!word.empty() && c.rfind(word, 0) == 0) {
      ++prefixed;
      prefixOf = c;
    }
  }
  // A typo of a few letters, or the start of exactly one name.
  if (!best.empty() && bestDistance <= std::max<size_t>(1, std::min<size_t>(2, word.size() / 3)))
    return best;
  return prefixed == 1 ? prefixOf : std::string();
}

int RunHelp(const Context&, const Args& args) {
  if (args.positional.empty()) {
    std::cout << UsageText();
    return kExitOk;
  }
  const std::string& name = args.positional[0];
  if (const Command* c = FindCommand(name)) {
    std::cout << CommandHelpText(*c);
    return kExitOk;
  }
  std::vector<std::string> names;
  for (const Command& c : Commands()) names.push_back(c.name);
  const std::string near = Nearest(name, names);
  Error("no command '" + name + "'" + (near.empty() ? "" : "; did you mean '" + near + "'?"));
  return kExitUsage;
}

}  // namespace tessarook::cli
