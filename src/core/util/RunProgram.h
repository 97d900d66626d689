// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs another program (systemctl, crontab) and collects what it prints.

#include <string>
#include <vector>

namespace tessarook {

struct ProgramRun {
  bool started = false;  // false: the program could not be started (not installed)
  int status = -1;       // its exit status; -1 when it was killed by a signal
  std::string out;       // standard output
  std::string err;       // standard error
};

// Runs argv[0] (found through PATH) with the arguments, feeding it `input` on
// standard input, and waits for it. Output beyond 1 MiB per stream is dropped.
ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& input = {});

}  // namespace tessarook
