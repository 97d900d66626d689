// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Caption.h"

namespace tessarook {

std::string MakeCaption(std::string_view documentTitle, std::string_view appTitle) {
  std::string caption(documentTitle);
  caption += " - ";
  caption += appTitle;
  return caption;
}

std::string DocumentTitleForPath(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name);
}

}  // namespace tessarook
