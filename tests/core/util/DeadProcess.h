// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tessarook::test {

// The id of a process that has just ended (and has been reaped), as a
// partial file's writer that was killed would leave it.
inline pid_t DeadProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

}  // namespace tessarook::test
