#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The bash completion of tessarook-cli, driven as bash drives it.
# Usage: completion_test.sh TESSAROOK_CLI COMPLETION_SCRIPT
set -u
cli=$1
# shellcheck source=/dev/null
source "$2"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
schemes="$dir/My Schemes"
failures=0

# Completes the last word of the given line; prints the candidates joined by "|".
complete_line() {
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _tessarook_cli
    local IFS='|'
    echo "${COMPREPLY[*]}"
}

expect() {  # expect WANT LINE...
    local want=$1 got
    shift
    got=$(complete_line "$@")
    if [[ $got != "$want" ]]; then
        echo "FAIL: tessarook-cli $*<TAB>: got '$got', want '$want'" >&2
        failures=$((failures + 1))
    fi
}

expect_has() {  # expect_has WORD LINE...: WORD is among the candidates
    local want=$1 got
    shift
    got=$(complete_line "$@")
    if [[ "|$got|" != *"|$want|"* ]]; then
        echo "FAIL: tessarook-cli $*<TAB>: got '$got', want '$want' among them" >&2
        failures=$((failures + 1))
    fi
}

"$cli" --schemes-dir "$schemes" new "Home Docs" &&
    "$cli" --schemes-dir "$schemes" new Work &&
    "$cli" --schemes-dir "$schemes" add-file Work /etc/hostname &&
    "$cli" --quiet --schemes-dir "$schemes" backup Work monday >/dev/null &&
    "$cli" --quiet --schemes-dir "$schemes" backup Work tuesday >/dev/null || exit 1

# Commands come from the program's own list, and so do their options.
expect "backup|backups" ba
expect "duplicate-backup|duplicate" dup
expect "--schemes-dir|--settings|--quiet|--jobs|--help|--version" --
expect "--force|--yes|--schemes-dir|--settings|--quiet|--jobs|--help" new X --
expect "--yes|--schemes-dir|--settings|--quiet|--jobs|--help" delete X --
expect "name|time|size" backups Work --sort ""
# Scheme and Backup names, from the My Schemes folder typed before or after the command.
expect "Home Docs|Work" --schemes-dir "$schemes" show ""
expect "Work" backup --schemes-dir "$schemes" W
expect "Work" --jobs 2 --schemes-dir "$schemes" backup W
expect "monday|tuesday|latest" --schemes-dir "$schemes" contents Work ""
expect "tuesday" --schemes-dir "$schemes" verify Work t
expect "monday|tuesday|latest" --schemes-dir "$schemes" rename-backup Work ""
expect "" --schemes-dir "$schemes" rename-backup Work monday ""
expect "Home Docs|Work" --schemes-dir "$schemes" rename ""
expect "daily" --schemes-dir "$schemes" schedule Work d
expect "off|hourly|daily|weekly" --schemes-dir "$schemes" schedule Work ""
# An option's value is no argument: the Backup still follows the Scheme.
expect "monday|tuesday|latest" --schemes-dir "$schemes" restore --to /tmp Work ""
# Source paths in the Backup for restore.
expect "/etc/hostname" --schemes-dir "$schemes" restore Work monday /etc/h
# Option families written "[--keep-last|-hourly... N]" or "[--keep-... N]" in a synopsis.
if "$cli" prune --help >/dev/null 2>&1; then
    expect_has "--keep-weekly" prune Work --keep-
    expect_has "--dry-run" prune Work --
    expect "Work" --schemes-dir "$schemes" prune --keep-daily 7 W
    expect "monday|tuesday|latest" --schemes-dir "$schemes" backup Work --keep-last 3 ""
fi
# A flag of backup, and the Backup name still completes after it.
expect "--reread" backup Work --rer
expect "monday|tuesday|latest" --schemes-dir "$schemes" backup --reread Work ""
# No My Schemes folder there: nothing, and no error.
expect "" --schemes-dir "$dir/none" show ""

exit $((failures > 0))
