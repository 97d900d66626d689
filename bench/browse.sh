#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Opening a Backup of many files in the Backup contents dialog (Browse), against
# `unzip -l` listing the same Backup. Makes BENCH_FILES small files in folders of
# 100, backs them up with tessarook-cli, then times each several times. Prints
# every time, the medians, the ratio to unzip -l, and the machine's load.
# Target: the dialog opens in under a second for 200,000 files.
#
# Usage: bench/browse.sh [BUILD_DIR]   (default: build; needs an X display, or
#        runs itself under xvfb-run)
# Environment: BENCH_FILES (default 200000), BENCH_RUNS (default 5), TMPDIR;
# BENCH_BACKUP=FILE times that Backup instead of making one.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
FILES="${BENCH_FILES:-200000}"
RUNS="${BENCH_RUNS:-5}"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
cmake --build "$BUILD" --target bench-browse-open tessarook-cli -j2 >/dev/null
OPEN="$(realpath "$BUILD/bench/bench-browse-open")"
CLI="$(realpath "$BUILD/src/cli/tessarook-cli")"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/tessarook-bench-browse.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "${BENCH_BACKUP:-}" ]; then
  BACKUP="$BENCH_BACKUP"
else
  python3 - "$WORK/files" "$FILES" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    folder = os.path.join(root, "d%03d" % (i // 10000), "e%03d" % (i // 100 % 100))
    if i % 100 == 0:
        os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%06d.txt" % i), "w") as f:
        f.write("x" * (i % 50))
PY
  export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/config"
  "$CLI" --quiet new bench
  "$CLI" --quiet add bench "$WORK/files"
  "$CLI" --quiet backup bench b
  BACKUP="$(find "$WORK/home" -name 'b.zip' | head -1)"
fi
echo "Backup: $(unzip -Z1 "$BACKUP" | wc -l) entries, $(du -h "$BACKUP" | cut -f1)"

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
mapfile -t lines < <("$OPEN" "$BACKUP" "$RUNS")
opens=() loads=()
for line in "${lines[@]}"; do
  read -r shown loaded _ <<<"$line"
  opens+=("$shown")
  loads+=("$loaded")
done
unzips=()
for _ in $(seq "$RUNS"); do
  start=$(date +%s%N)
  unzip -l "$BACKUP" >/dev/null
  unzips+=($(( ($(date +%s%N) - start) / 1000000 )))
done
open_ms=$(printf '%s\n' "${opens[@]}" | median)
unzip_ms=$(printf '%s\n' "${unzips[@]}" | median)
echo "Browse (dialog shown, ms): ${opens[*]}"
echo "  of which reading and building the tree: ${loads[*]}"
echo "unzip -l (ms):             ${unzips[*]}"
echo "median: Browse ${open_ms} ms, unzip -l ${unzip_ms} ms, ratio $(awk "BEGIN {printf \"%.2f\", $open_ms / $unzip_ms}")"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
