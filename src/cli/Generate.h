// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the build makes from the command table besides the help texts: the
// manual page's command section and the data of the bash, zsh and fish
// completions. Each goes into a template (doc/tessarook-cli.1,
// completion/tessarook-cli.*) in place of the line holding
// "<<TESSAROOK_CLI_TABLE>>"; tessarook-cli-docs does that.

#include <string>

namespace tessarook::cli {

std::string ManCommandSection();
std::string BashCompletionData();
std::string ZshCompletionData();
std::string FishCompletionData();

// `templ` with the line holding the marker replaced by `data`; empty when
// there is no marker.
std::string FillTemplate(const std::string& templ, const std::string& data);

}  // namespace tessarook::cli
