#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The bash completion of tessarook-cli in a real terminal: an interactive bash
# with the completion loaded gets keystrokes (TAB, then Enter) through a pty,
# and the completed command line must run and succeed.
# Usage: completion_pty_test.py TESSAROOK_CLI BASH_COMPLETION
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

cli, completion = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
work = tempfile.mkdtemp()
schemes = os.path.join(work, "My Schemes")
failures = []


def run(*args):
    subprocess.run([cli, "--quiet", "--schemes-dir", schemes, *args], check=True,
                   stdout=subprocess.DEVNULL)


class Shell:
    PROMPT = "READY> "

    def __init__(self):
        self.left = ""
        bindir = os.path.join(work, "bin")
        os.makedirs(bindir, exist_ok=True)
        link = os.path.join(bindir, "tessarook-cli")
        if not os.path.exists(link):
            os.symlink(cli, link)
        env = dict(os.environ, PATH=bindir + ":" + os.environ.get("PATH", ""),
                   TERM="dumb", HOME=work, INPUTRC="/dev/null", PS1=self.PROMPT,
                   TESSAROOK_SCHEMES_DIR=schemes)
        env.pop("PROMPT_COMMAND", None)
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(work)
            os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"], env)
        self.send("bind 'set bell-style none'; "
                  "bind -x '\"\\C-xp\": printf \"LINE<%%s>END\\n\" \"$READLINE_LINE\"'; "
                  "source '%s'; echo LOADED\n" % completion.replace("'", "'\\''"))
        self.expect("LOADED\r\n" + self.PROMPT)

    def read(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return ""
        try:
            return os.read(self.fd, 65536).decode("utf-8", "replace")
        except OSError:
            return ""

    def send(self, text):
        os.write(self.fd, text.encode())

    def expect(self, marker, timeout=20):
        """Reads until `marker` shows; returns what came before it and keeps
        what came after it for the next call."""
        seen = self.left
        end = time.monotonic() + timeout
        while marker not in seen:
            if time.monotonic() > end:
                raise TimeoutError("no %r in %r" % (marker, seen))
            seen += self.read(0.2)
        at = seen.index(marker)
        self.left = seen[at + len(marker):]
        return seen[:at]

    def expect_exit(self, timeout=20):
        """Reads up to the "EXIT=N=" the command line ends with."""
        seen = self.left
        end = time.monotonic() + timeout
        while not re.search(r"EXIT=\d+=", seen):
            if time.monotonic() > end:
                raise TimeoutError("no exit status in %r" % seen)
            seen += self.read(0.2)
        found = re.search(r"EXIT=\d+=", seen)
        self.left = seen[found.end():]
        return seen[: found.end()]

    def settle(self):
        """What the terminal shows until it stays quiet for a moment."""
        seen, self.left = self.left, ""
        while True:
            chunk = self.read(0.7)
            if not chunk:
                return seen
            seen += chunk

    def close(self):
        self.send("exit\n")
        os.waitpid(self.pid, 0)


def complete_and_run(shell, typed, want_line, rest=""):
    """Types `typed`, presses TAB, checks the line reads `want_line`, runs it
    with `rest` added; returns the command's output, or None when it did not
    succeed."""
    shell.send(typed + "\t")
    shell.settle()
    # Ctrl+X p prints the line as readline holds it, leaving it in place.
    shell.send("\x18p")
    shell.expect("LINE<")
    line = shell.expect(">END").rstrip()
    if line != want_line:
        failures.append("%r<TAB> gave the line %r, want %r" % (typed, line, want_line))
        shell.send("\x15\n")  # Ctrl+U: dropped unrun
        shell.expect(shell.PROMPT)
        return None
    shell.settle()  # readline shows the line again
    shell.send(rest + "; echo \"EXIT=$?=\"\n")
    out = shell.expect_exit()
    if not out.endswith("EXIT=0="):
        failures.append("%r failed: %r" % (line + rest, out))
        return None
    return out


try:
    run("new", "Home Docs")
    run("add-file", "Home Docs", "/etc/hostname")
    run("backup", "Home Docs", "monday")
    # A default name: the local time, with a blank in it.
    taken = subprocess.run([cli, "--quiet", "--schemes-dir", schemes, "backup", "Home Docs"],
                           check=True, capture_output=True, text=True).stdout.split("\t")[0]
    assert " " in taken, taken
    shell = Shell()
    quoted = taken.replace(" ", "\\ ")
    # A Scheme name with a blank, then a Backup name with one.
    complete_and_run(shell, "tessarook-cli show Ho", "tessarook-cli show Home\\ Docs")
    out = complete_and_run(shell, "tessarook-cli verify Home\\ Docs " + taken[:4],
                           "tessarook-cli verify Home\\ Docs " + quoted)
    if out is not None and "ok\t1" not in out:
        failures.append("verify printed %r" % out)
    # Inside quotes the user opened, the name is completed and the quote closed.
    complete_and_run(shell, "tessarook-cli contents 'Home Docs' \"" + taken[:4],
                     "tessarook-cli contents 'Home Docs' \"" + taken + "\"")
    # A source path in that Backup, after a quoted Backup name.
    complete_and_run(shell, "tessarook-cli extract Home\\ Docs " + quoted + " /etc/host",
                     "tessarook-cli extract Home\\ Docs " + quoted + " /etc/hostname",
                     " " + os.path.join(work, "copy"))
    shell.close()
finally:
    shutil.rmtree(work, ignore_errors=True)

for f in failures:
    print("FAIL:", f, file=sys.stderr)
sys.exit(1 if failures else 0)
