#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The zsh and fish completions the build made: both parse; fish, asked as it
# asks when TAB is pressed, offers the commands, an option's words and the
# Backup names (with their blanks) of the Scheme typed; zsh, in a terminal
# (zpty), completes such names on TAB so that the command line then works.
# Usage: completion_shells_test.sh TESSAROOK_CLI COMPLETION_FOLDER
set -u
cli=$1
made=$2
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
for shell in zsh fish; do
    if ! command -v "$shell" >/dev/null; then
        echo "$shell is not installed (scripts/deps.sh installs it)" >&2
        exit 1
    fi
done
zsh -n "$made/_tessarook-cli" || fail "zsh cannot read _tessarook-cli"
fish -n "$made/tessarook-cli.fish" || fail "fish cannot read tessarook-cli.fish"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
schemes="$dir/My Schemes"
mkdir "$dir/bin"
ln -s "$cli" "$dir/bin/tessarook-cli"
run() { "$cli" --quiet --schemes-dir "$schemes" "$@" >/dev/null || exit 1; }
run new "Home Docs"
run add-file "Home Docs" /etc/hostname
run backup "Home Docs" "2026-01-02 03.04.05"

# What fish offers for the line $1, one candidate a line, descriptions left out.
fish_offers() {
    PATH="$dir/bin:$PATH" fish --no-config -c \
        "source '$made/tessarook-cli.fish'; complete -C '$1'" | cut -f1 | sort | tr '\n' '|'
}
expect_fish() {  # expect_fish WANT LINE
    local got
    got=$(fish_offers "$2")
    [[ $got == "$1" ]] || fail "fish: '$2': got '$got', want '$1'"
}
q=\\\' # a quote inside fish's single quotes
expect_fish "backup|backups|" "tessarook-cli back"
expect_fish "name|size|time|" "tessarook-cli backups S --sort "
expect_fish "--keep-daily|" "tessarook-cli prune S --keep-d"
expect_fish "Home Docs|" "tessarook-cli --schemes-dir $q$schemes$q show H"
expect_fish "2026-01-02 03.04.05|latest|" \
    "tessarook-cli --schemes-dir $q$schemes$q verify Home\\\\ Docs "
expect_fish "/etc/hostname|" \
    "tessarook-cli --schemes-dir $q$schemes$q restore ${q}Home Docs$q latest /etc/h"

# zsh in a terminal: TAB completes the line, Enter runs it; it must succeed.
zsh_runs() {  # zsh_runs LINE: the line typed before TAB
    # shellcheck disable=SC2016
    PATH="$dir/bin:$PATH" timeout 60 zsh -f -c '
        zmodload zsh/zpty
        zpty z "PS1=\"RDY> \" TERM=dumb HOME=$3 zsh -f -i"
        zpty -w z "fpath=(${(q)1} \$fpath); autoload -Uz compinit; compinit -u -d ${(q)3}/dump; echo LOADED"
        zpty -r -m z out "*LOADED*"
        zpty -n -w z "$2"$'"'"'\t'"'"'
        sleep 2
        zpty -n -w z "; echo EXIT=\$?=
"
        zpty -r -m z out "*EXIT=<->=*"
        print -r -- "$out"
        zpty -d z' zsh "$made" "$1" "$dir"
}
for typed in "tessarook-cli show Ho" "tessarook-cli verify Home\\ Docs 2" \
    "tessarook-cli contents 'Home Docs' lat"; do
    got=$(TESSAROOK_SCHEMES_DIR=$schemes zsh_runs "$typed")
    [[ $got == *EXIT=0=* ]] || fail "zsh: '$typed<TAB>' did not complete to a working command: $got"
done
exit $((failures > 0))
