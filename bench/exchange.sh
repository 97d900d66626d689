#!/bin/bash
# Compressed Scheme export and import of a Scheme with 1 GB of Backups, against `cp -r`
# of the same Backups folder. Prints each tool's best time of the warm runs, the
# ratios to cp (target: at most 1.2) and the peak memory of export and import (target:
# under 64 MiB).
#
# Usage: bench/exchange.sh [path/to/tessarook-cli]   (default: build/src/cli/tessarook-cli)
# Environment: BENCH_MB (size of the Backups, default 1024), BENCH_RUNS (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
CLI="${1:-build/src/cli/tessarook-cli}"
CLI="$(realpath "$CLI")"
MB="${BENCH_MB:-1024}"
RUNS="${BENCH_RUNS:-3}"
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

best() { sort -n | head -1; }

# Every tool reads warm input: the page cache is read through once just before it runs
# (the machine may drop cold pages between runs, which would time the disk instead).
warm() { cat "$@" > /dev/null; }

cp_times=(); exp_times=(); imp_times=(); exp_rss=0; imp_rss=0
for run in $(seq 0 "$RUNS"); do
  rm -rf "$WORK/cpdst" "$WORK/dst" "$WORK/out.csm"
  sync
  warm "$SRC"/bench.tsbak.backups/*.zip "$SRC"/bench.tsbak.backups/old/*.zip
  read -r t _ < <(measure cp -r "$SRC/bench.tsbak.backups" "$WORK/cpdst")
  [ "$run" -gt 0 ] && cp_times+=("$t")
  warm "$SRC"/bench.tsbak.backups/*.zip "$SRC"/bench.tsbak.backups/old/*.zip
  read -r t r < <(measure "$CLI" --quiet --schemes-dir "$SRC" export bench "$WORK/out.csm" --force)
  [ "$run" -gt 0 ] && exp_times+=("$t")
  [ "$r" -gt "$exp_rss" ] && exp_rss=$r
  warm "$WORK/out.csm"
  read -r t r < <(measure "$CLI" --quiet --schemes-dir "$WORK/dst" import "$WORK/out.csm")
  [ "$run" -gt 0 ] && imp_times+=("$t")
  [ "$r" -gt "$imp_rss" ] && imp_rss=$r
done

# The import must reproduce every Backup byte for byte (sub-folder files land flat).
for f in "$SRC"/bench.tsbak.backups/*.zip "$SRC"/bench.tsbak.backups/old/*.zip; do
  cmp -s "$f" "$WORK/dst/bench.tsbak.backups/$(basename "$f")" || { echo "MISMATCH: $f" >&2; exit 1; }
done

cp_t=$(printf '%s\n' "${cp_times[@]}" | best)
exp_t=$(printf '%s\n' "${exp_times[@]}" | best)
imp_t=$(printf '%s\n' "${imp_times[@]}" | best)
echo "Backups: ${MB} MiB in 8 files; best of $RUNS warm runs"
printf 'cp -r    %6.2f s\n' "$cp_t"
printf 'export   %6.2f s   ratio %.2f (target <= 1.20)   peak %d KiB\n' "$exp_t" \
  "$(echo "$exp_t $cp_t" | awk '{ print ($2 > 0 ? $1 / $2 : 0) }')" "$exp_rss"
printf 'import   %6.2f s   ratio %.2f (target <= 1.20)   peak %d KiB\n' "$imp_t" \
  "$(echo "$imp_t $cp_t" | awk '{ print ($2 > 0 ? $1 / $2 : 0) }')" "$imp_rss"
