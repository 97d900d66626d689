#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times taking and restoring a Backup against common archivers on the same
# tree, in the same run, and prints each ratio (ours / theirs), the sizes and
# the peak memory. Every figure is the median of BENCH_RUNS runs (default 3).
#
#   bench/backup.sh [BUILD_DIR]        (default: build)
#
# Environment: BENCH_DIR (scratch folder, default a new one under /tmp),
# BENCH_KEEP=1 keeps it, BENCH_RUNS. Needs zip, unzip, 7z (p7zip-full), pigz,
# bsdtar (libarchive-tools), python3 and GNU time (/usr/bin/time).
# Targets: backup at most 0.33 x zip's time at no more than zip's size + 1 %,
# restore at most 0.5 x unzip's time, peak memory 64 MiB on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
RUNS="${BENCH_RUNS:-3}"
CLI="$(pwd)/$BUILD/src/cli/tessarook-cli"
[ -x "$CLI" ] || { echo "build $CLI first" >&2; exit 2; }
for tool in zip unzip 7z pigz bsdtar python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done

W="${BENCH_DIR:-$(mktemp -d /tmp/tessarook-bench.XXXXXX)}"
mkdir -p "$W"
[ "${BENCH_KEEP:-0}" = 1 ] || trap 'rm -rf "$W"' EXIT
C="$W/corpus"

echo "Building the corpus in $C ..."
if [ ! -d "$C" ]; then
  mkdir -p "$C/big"
  python3 bench/corpus.py "$C"
fi
find "$C" -type f -exec cat {} + >/dev/null  # warm the page cache for every tool

S="$W/schemes"
rm -rf "$S"
mkdir -p "$S"
"$CLI" --schemes-dir "$S" new Bench >/dev/null
"$CLI" --schemes-dir "$S" add-folder Bench "$C" >/dev/null
B="$S/Bench.tsbak.backups"

# measure COMMAND... : prints "seconds max_rss_kib": the median time of $RUNS
# runs, the largest peak memory. $PREPARE runs (untimed) before each run.
measure() {
  local times=() rss=0
  for _ in $(seq "$RUNS"); do
    "$PREPARE" >/dev/null 2>&1 || true
    /usr/bin/time -f "%e %M" -o "$W/time.txt" "$@" </dev/null >/dev/null 2>"$W/err.txt" ||
      { cat "$W/err.txt" >&2; exit 1; }
    read -r secs kib <"$W/time.txt"
    times+=("$secs")
    [ "$kib" -gt "$rss" ] && rss=$kib
  done
  echo "$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}') $rss"
}
ratio() { python3 -c "print(f'{$1 / max($2, 0.001):.2f}')"; }
size_of() { stat -c %s "$1"; }

echo "load before: $(uptime)"
declare -A T M Z

# Backups. Each run starts with no dirty pages left by the one before (sync is
# not timed).
clean_backup() { rm -f "$B"/b*.zip "$W"/ref.*; sync; }
PREPARE=clean_backup
read -r "T[ours1]" "M[ours1]" < <(measure "$CLI" --schemes-dir "$S" --quiet --jobs 1 backup Bench b1)
read -r "T[ours]" "M[ours]" < <(measure "$CLI" --schemes-dir "$S" --quiet backup Bench b)
read -r "T[zip]" "M[zip]" < <(cd "$W" && measure zip -r -q -6 "$W/ref.zip" corpus)
read -r "T[7z]" "M[7z]" < <(cd "$W" && measure 7z a -tzip -mx5 -mmt "$W/ref.7z.zip" corpus)
read -r "T[pigz]" "M[pigz]" < <(cd "$W" && measure bash -c "tar cf - corpus | pigz -6 >'$W/ref.tgz'")
"$CLI" --schemes-dir "$S" --quiet --jobs 1 backup Bench b1 >/dev/null
"$CLI" --schemes-dir "$S" --quiet backup Bench b >/dev/null
(cd "$W" && zip -r -q -6 "$W/ref.zip" corpus && 7z a -tzip -mx5 -mmt "$W/ref.7z.zip" corpus >/dev/null &&
  tar cf - corpus | pigz -6 >"$W/ref.tgz")
Z[ours]=$(size_of "$B/b.zip") Z[ours1]=$(size_of "$B/b1.zip") Z[zip]=$(size_of "$W/ref.zip")
Z[7z]=$(size_of "$W/ref.7z.zip") Z[pigz]=$(size_of "$W/ref.tgz")

# Every Backup is a standard ZIP to other readers, and the same whatever the
# number of workers.
for zipfile in "$B/b.zip" "$B/b1.zip"; do
  unzip -tq "$zipfile" >/dev/null
  python3 -c "import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)" "$zipfile"
  7z t "$zipfile" >/dev/null
done
cmp <(unzip -p "$B/b.zip") <(unzip -p "$B/b1.zip")

# Restores.
clean_restore() { rm -rf "$W"/out*; mkdir "$W/out3"; sync; }
PREPARE=clean_restore
read -r "T[rest1]" "M[rest1]" < <(measure "$CLI" --schemes-dir "$S" --quiet --jobs 1 restore Bench b --to "$W/out1")
read -r "T[rest]" "M[rest]" < <(measure "$CLI" --schemes-dir "$S" --quiet restore Bench b --to "$W/out1")
read -r "T[unzip]" "M[unzip]" < <(measure unzip -q "$W/ref.zip" -d "$W/out2")
read -r "T[bsdtar]" "M[bsdtar]" < <(measure bsdtar -xf "$W/ref.zip" -C "$W/out3")
"$CLI" --schemes-dir "$S" --quiet restore Bench b --to "$W/out1" >/dev/null
diff -r "$C" "$W/out1$C" >/dev/null || { echo "restored tree differs" >&2; exit 1; }
python3 - "$C" "$W/out1$C" <<'PY' || { echo "restored modes or times differ" >&2; exit 1; }
import os, sys
src, out = sys.argv[1:]
for path, _, files in os.walk(src):
    for f in files:
        a = os.stat(os.path.join(path, f))
        b = os.stat(os.path.join(out, os.path.relpath(path, src), f))
        if a.st_mode != b.st_mode or a.st_mtime_ns // 100 != b.st_mtime_ns // 100:
            sys.exit(1)
PY

# Peak memory while backing up one 2 GiB file (mostly zeros, some random data).
mkdir -p "$W/huge"
python3 - "$W/huge/two.gib" <<'PY'
import os, sys
with open(sys.argv[1], "wb") as f:
    f.truncate(2 << 30)
    for i in range(64):
        f.seek(i * (32 << 20)); f.write(os.urandom(1 << 20))
PY
"$CLI" --schemes-dir "$S" new Huge >/dev/null
"$CLI" --schemes-dir "$S" add-file Huge "$W/huge/two.gib" >/dev/null
/usr/bin/time -f "%e %M" -o "$W/time.txt" "$CLI" --schemes-dir "$S" --quiet backup Huge h --force >/dev/null
read -r huge_s huge_rss <"$W/time.txt"
echo "load after:  $(uptime)"

echo
echo "medians of $RUNS runs on $(nproc) cores"
row() {  # label, key, reference key, size key (or -)
  local size="" ref=""
  [ "$4" != - ] && size="${Z[$4]}"
  [ -n "$3" ] && ref="$(ratio "${T[$2]}" "${T[$3]}")"
  printf '%-40s %8s s %7s %12s %9s KiB\n' "$1" "${T[$2]}" "$ref" "$size" "${M[$2]}"
}
printf '%-40s %10s %7s %12s %13s\n' "" "time" "ratio" "size" "peak RSS"
row "backup, ours, every core" ours zip ours
row "backup, ours, --jobs 1" ours1 zip ours1
row "backup, zip -r -q -6" zip zip zip
row "backup, 7z a -tzip -mx5 -mmt" 7z zip 7z
row "backup, tar | pigz -6" pigz zip pigz
row "restore --to, ours, every core" rest unzip -
row "restore --to, ours, --jobs 1" rest1 unzip -
row "restore, unzip -q" unzip unzip -
row "restore, bsdtar -xf" bsdtar unzip -
echo "(ratios against zip for backups, against unzip for restores)"
echo "size: ours / zip = $(ratio "${Z[ours]}" "${Z[zip]}")"
printf 'backup of a 2 GiB file: %s s, peak memory %s KiB (%s MiB)\n' "$huge_s" "$huge_rss" \
  "$((huge_rss / 1024))"
