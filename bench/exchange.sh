#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Compressed Scheme export and import of a Scheme with 1 GB of Backups, against `cp -r`
# of the same Backups folder. Prints each tool's median over the runs, every time
# measured, the ratios to cp (target: at most 1.1) and the peak memory of export and
# import (target: under 64 MiB), with the machine's load before and after.
#
# Each run times the three in a different order: on a shared machine the write that
# follows a large delete or flush is often slowed by the disk or the host, and a fixed
# order would charge that to whichever tool always comes in that place.
#
# Usage: bench/exchange.sh [path/to/tessarook-cli]   (default: build/src/cli/tessarook-cli)
# Environment: BENCH_MB (size of the Backups, default 1024), BENCH_RUNS (default 5),
# TMPDIR (where the Scheme and the copies are made).
set -euo pipefail
cd "$(dirname "$0")/.."
CLI="${1:-build/src/cli/tessarook-cli}"
CLI="$(realpath "$CLI")"
MB="${BENCH_MB:-1024}"
RUNS="${BENCH_RUNS:-5}"
[ -x "$CLI" ] || { echo "no tessarook-cli at $CLI (build it first)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 2; }

WORK="$(mktemp -d "${TMPDIR:-/tmp}/tessarook-bench-exchange.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# The Scheme: eight Backups of equal size, one of them in a sub-folder.
SRC="$WORK/src"
mkdir -p "$SRC"
"$CLI" --quiet --schemes-dir "$SRC" new bench
mkdir -p "$SRC/bench.tsbak.backups/old"
per=$((MB / 8))
for i in 1 2 3 4 5 6 7; do
  head -c "${per}M" /dev/urandom > "$SRC/bench.tsbak.backups/backup-$i.zip"
done
head -c "${per}M" /dev/urandom > "$SRC/bench.tsbak.backups/old/backup-8.zip"
sync

# Runs a command under GNU time; prints "seconds peak_kib".
measure() {
  local log="$WORK/time.log"
  # Each tool starts with no dirty pages left over from the one before.
  sync
  /usr/bin/time -v -o "$log" "$@" > /dev/null
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log")
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  # h:mm:ss or m:ss.cc to seconds
  echo "$wall" | awk -F: -v rss="$rss" '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s, rss }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# Every tool reads warm input: the page cache is read through once just before it runs
# (the machine may drop cold pages between runs, which would time the disk instead).
warm() { cat "$@" > /dev/null; }
backups=("$SRC"/bench.tsbak.backups/*.zip "$SRC"/bench.tsbak.backups/old/*.zip)

# The Compressed Scheme every import reads, made once before the timed runs.
"$CLI" --quiet --schemes-dir "$SRC" export bench "$WORK/in.csm" > /dev/null

cp_times=(); exp_times=(); imp_times=(); exp_rss=0; imp_rss=0
run_cp() {
  warm "${backups[@]}"
  read -r t _ < <(measure cp -r "$SRC/bench.tsbak.backups" "$WORK/cpdst")
  [ "$1" -gt 0 ] && cp_times+=("$t")
  rm -rf "$WORK/cpdst"
}
run_export() {
  warm "${backups[@]}"
  read -r t r < <(measure "$CLI" --quiet --schemes-dir "$SRC" export bench "$WORK/out.csm")
  [ "$1" -gt 0 ] && exp_times+=("$t")
  [ "$r" -gt "$exp_rss" ] && exp_rss=$r
  cmp -s "$WORK/out.csm" "$WORK/in.csm" || { echo "export differs from the first" >&2; exit 1; }
  rm -f "$WORK/out.csm"
}
run_import() {
  warm "$WORK/in.csm"
  read -r t r < <(measure "$CLI" --quiet --schemes-dir "$WORK/dst" import "$WORK/in.csm")
  [ "$1" -gt 0 ] && imp_times+=("$t")
  [ "$r" -gt "$imp_rss" ] && imp_rss=$r
  # The import must reproduce every Backup byte for byte (sub-folder files land flat).
  for f in "${backups[@]}"; do
    cmp -s "$f" "$WORK/dst/bench.tsbak.backups/$(basename "$f")" || { echo "MISMATCH: $f" >&2; exit 1; }
  done
  rm -rf "$WORK/dst"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
orders=("cp export import" "export import cp" "import cp export" "cp import export" "export cp import" "import export cp")
for run in $(seq 0 "$RUNS"); do  # run 0 warms up and is not counted
  for tool in ${orders[$((run % ${#orders[@]}))]}; do "run_$tool" "$run"; done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cp_t=$(printf '%s\n' "${cp_times[@]}" | median)
exp_t=$(printf '%s\n' "${exp_times[@]}" | median)
imp_t=$(printf '%s\n' "${imp_times[@]}" | median)
ratio() { echo "$1 $2" | awk '{ print ($2 > 0 ? $1 / $2 : 0) }'; }
echo "Backups: ${MB} MiB in 8 files under $(df --output=fstype "$WORK" | tail -1); medians of $RUNS runs on $(nproc) cores"
echo "load (1/5/15 min) before: $load_before  after: $load_after"
printf 'cp -r    %6.2f s   runs: %s\n' "$cp_t" "${cp_times[*]}"
printf 'export   %6.2f s   ratio %.2f (target <= 1.10)   peak %d KiB   runs: %s\n' "$exp_t" \
  "$(ratio "$exp_t" "$cp_t")" "$exp_rss" "${exp_times[*]}"
printf 'import   %6.2f s   ratio %.2f (target <= 1.10)   peak %d KiB   runs: %s\n' "$imp_t" \
  "$(ratio "$imp_t" "$cp_t")" "$imp_rss" "${imp_times[*]}"
