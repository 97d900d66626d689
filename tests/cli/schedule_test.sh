#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# "tessarook-cli schedule" against the real timers: a systemd user manager
# started for the test (in a mount namespace of its own, as root), and the
# real crontab (the user's crontab is saved first and put back at the end).
# Usage: schedule_test.sh CLI UNIT_SOURCE_FOLDER
set -u
CLI=$1
UNITS=$2
passed=0
failed=0

check() {  # check TEXT COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what" >&2
  fi
}
contains() { grep -qF -- "$2" <<<"$1"; }
lacks() { ! grep -qF -- "$2" <<<"$1"; }

fresh_home() {
  T=$(mktemp -d)
  export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data
  mkdir -p "$T/files"
  echo one >"$T/files/a.txt"
  echo two >"$T/files/b.txt"
  "$CLI" new Home && "$CLI" add Home "$T/files"
}

systemd_part() {
  fresh_home
  export XDG_RUNTIME_DIR=$T/run
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  # The units as an install puts them, found in the user's data folder.
  mkdir -p "$XDG_DATA_HOME/systemd/user"
  for unit in tessarook-backup@.service tessarook-backup@.timer; do
    sed "s|@TESSAROOK_CLI_PATH@|$CLI|" "$UNITS/$unit.in" >"$XDG_DATA_HOME/systemd/user/$unit"
  done
  /lib/systemd/systemd --user >"$T/manager.log" 2>&1 &
  local manager=$!
  for _ in $(seq 50); do
    [ -S "$XDG_RUNTIME_DIR/systemd/private" ] && break
    sleep 0.2
  done
  check "the user manager answers" systemctl --user --quiet is-system-running --wait

  local out unit=tessarook-backup@Home.timer
  out=$("$CLI" schedule Home daily --keep-last 1)
  check "schedule daily says so" contains "$out" $'timer\tsystemd\ttessarook-backup@Home.timer\tenabled'
  check "the timer is enabled" test "$(systemctl --user is-enabled $unit)" = enabled
  check "the timer is active" systemctl --user is-active --quiet $unit
  check "the drop-in sets the period" grep -qx "OnCalendar=daily" \
    "$XDG_CONFIG_HOME/systemd/user/$unit.d/schedule.conf"
  check "systemd reads the period" contains "$(systemctl --user show -p TimersCalendar $unit)" \
    "OnCalendar=*-*-* 00:00:00"
  local next
  next=$(systemctl --user list-timers --all --output=json $unit | sed -n 's/.*"next":\([0-9]*\).*/\1/p')
  check "the next run is systemd's" contains "$out" \
    "$(printf 'next\t')$(date -d "@$((next / 1000000))" +%Y-%m-%dT%H:%M:%S)"

  out=$("$CLI" schedule Home hourly)
  check "hourly: systemd reads the new period" \
    contains "$(systemctl --user show -p TimersCalendar $unit)" "OnCalendar=*-*-* *:00:00"
  check "the keep rule stays" contains "$out" $'keep\tlast=1'

  # The timer's service takes the Backup, keeps one and notes how it ended.
  "$CLI" backup Home first >/dev/null 2>&1
  check "the service runs" systemctl --user start tessarook-backup@Home.service
  out=$("$CLI" backups Home)
  check "the service's Backup prunes by the stored rule" test "$(wc -l <<<"$out")" = 1
  check "the old Backup went" lacks "$out" first
  check "the service's Backup is recorded" contains "$("$CLI" schedule Home)" $'\tok\t2\t0'

  # Rename, duplicate and delete carry or remove the timer.
  "$CLI" rename Home "My Home"
  check "rename: the old timer goes" test "$(systemctl --user is-enabled $unit 2>&1)" != enabled
  check "rename: the new timer runs" test \
    "$(systemctl --user is-enabled 'tessarook-backup@My\x20Home.timer')" = enabled
  check "rename: the old drop-in goes" test ! -e "$XDG_CONFIG_HOME/systemd/user/$unit.d"
  "$CLI" duplicate "My Home" Copy
  check "duplicate: the copy has a timer" test \
    "$(systemctl --user is-enabled tessarook-backup@Copy.timer)" = enabled
  check "duplicate: the copy's record" contains "$("$CLI" schedule Copy)" $'schedule\thourly'
  "$CLI" delete Copy </dev/null
  check "delete: the timer goes" test \
    "$(systemctl --user is-enabled tessarook-backup@Copy.timer 2>&1)" != enabled
  out=$("$CLI" schedule "My Home" off)
  check "off: the timer goes" test \
    "$(systemctl --user is-enabled 'tessarook-backup@My\x20Home.timer' 2>&1)" != enabled
  check "off: no next run" contains "$out" $'next\t-'

  # Not installed: the program writes the units for the user.
  rm -r "$XDG_DATA_HOME/systemd"
  systemctl --user daemon-reload
  "$CLI" new Other && "$CLI" add Other "$T/files"
  check "without installed units" "$CLI" schedule Other weekly >/dev/null
  # The very units an install puts in place, sandbox and all, with this program.
  check "the user's own units" test "$(sed "s|@TESSAROOK_CLI_PATH@|$CLI|" \
    "$UNITS/tessarook-backup@.service.in")" = \
    "$(cat "$XDG_CONFIG_HOME/systemd/user/tessarook-backup@.service")"
  check "the user's own timer" cmp -s "$UNITS/tessarook-backup@.timer.in" \
    "$XDG_CONFIG_HOME/systemd/user/tessarook-backup@.timer"
  check "the user's own service runs" systemctl --user start tessarook-backup@Other.service
  check "its Backup is recorded" contains "$("$CLI" schedule Other)" $'\tok\t2\t0'
  check "weekly" contains "$(systemctl --user show -p TimersCalendar tessarook-backup@Other.timer)" \
    "OnCalendar=Mon *-*-* 00:00:00"
  kill "$manager"
  wait "$manager" 2>/dev/null
  rm -rf "$T"
}

cron_part() {
  fresh_home
  export XDG_RUNTIME_DIR=$T/no-manager
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  local saved had=0
  if saved=$(crontab -l 2>/dev/null); then had=1; fi
  printf '%s\n' "MAILTO=\"\"" "17 4 * * * /bin/true # the user's own" | crontab -
  local out
  out=$("$CLI" schedule Home daily --keep-daily 3)
  check "cron: schedule says so" contains "$out" $'timer\tcron\tcrontab\tenabled'
  check "cron: the next run is midnight" contains "$out" \
    "$(printf 'next\t')$(date -d tomorrow +%Y-%m-%dT00:00:00)"
  local tab
  tab=$(crontab -l)
  check "cron: the user's own line stays" contains "$tab" "17 4 * * * /bin/true # the user's own"
  check "cron: one line for the Scheme" test "$(grep -c tessarook-backup:Home <<<"$tab")" = 1
  # The line's command, as cron runs it, takes a Backup.
  local command
  command=$(grep tessarook-backup:Home <<<"$tab" | sed 's/^@daily //; s/\\%/%/g')
  check "cron: the line runs" sh -c "$command >/dev/null"
  check "cron: its Backup is recorded" contains "$("$CLI" schedule Home)" $'\tok\t2\t0'
  "$CLI" schedule Home weekly >/dev/null
  tab=$(crontab -l)
  check "cron: weekly replaces daily" test "$(grep -c '^@weekly .*tessarook-backup:Home$' <<<"$tab")" = 1
  check "cron: no daily line left" lacks "$tab" "@daily"
  "$CLI" rename Home Work
  tab=$(crontab -l)
  check "cron: rename carries the line" contains "$tab" "tessarook-backup:Work"
  check "cron: the old line goes" lacks "$tab" "tessarook-backup:Home"
  "$CLI" schedule Work off >/dev/null
  check "cron: off leaves the user's crontab" test "$(crontab -l)" = \
    "$(printf '%s\n' 'MAILTO=""' "17 4 * * * /bin/true # the user's own")"
  if [ $had = 1 ]; then printf '%s\n' "$saved" | crontab -; else crontab -r; fi
  rm -rf "$T"
}

if [ "${1:-}" = --inside ]; then
  # In the namespace: a /run/systemd of our own tells systemd it may run.
  CLI=$2
  UNITS=$3
  mkdir -p /run/systemd 2>/dev/null
  mount -t tmpfs none /run/systemd || mount -t tmpfs none /run
  mkdir -p /run/systemd/system
  systemd_part
  echo "$passed passed, $failed failed"
  [ $failed = 0 ]
  exit
fi

if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null && [ -x /lib/systemd/systemd ] &&
  unshare -m true 2>/dev/null; then
  inner=$(unshare -m --propagation private bash "$0" --inside "$CLI" "$UNITS")
  echo "$inner" | grep -v ' passed, '
  counts=$(echo "$inner" | grep ' passed, ' | tail -1)
  passed=$((passed + ${counts%% passed*}))
  rest=${counts#*passed, }
  failed=$((failed + ${rest%% failed*}))
else
  echo "no user manager can be started here (needs root and unshare): systemd part not run" >&2
fi
if command -v crontab >/dev/null; then
  cron_part
else
  echo "FAILED: no crontab program (Debian package cron)" >&2
  failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ $failed = 0 ]
