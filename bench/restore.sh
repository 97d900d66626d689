#!/bin/bash
# Times restoring one Backup of a corpus tree against unzip -q and bsdtar on
# the same archive, in the same run: medians of 3 warm-cache runs, peak RSS,
# and the load before and after.
#
#   bench/restore.sh [BUILD_DIR]      (default: build)
#
# Environment: BENCH_DIR (scratch folder holding corpus/, made by
# bench/backup.sh with BENCH_KEEP=1, or any tree), JOBS (passed as --jobs when
# the CLI has it).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
CLI="$(pwd)/$BUILD/src/cli/tessarook-cli"
W="${BENCH_DIR:?set BENCH_DIR to a folder holding corpus/}"
C="$W/corpus"
[ -d "$C" ] || { echo "no corpus in $W" >&2; exit 2; }
S="$W/schemes"
if [ ! -f "$S/Bench.tsbak.backups/b.zip" ]; then
  rm -rf "$S" && mkdir -p "$S"
  "$CLI" --schemes-dir "$S" new Bench >/dev/null
  "$CLI" --schemes-dir "$S" add-folder Bench "$C" >/dev/null
  "$CLI" --schemes-dir "$S" --quiet backup Bench b --force >/dev/null
fi
ZIP="$S/Bench.tsbak.backups/b.zip"
# The reference tools get the same tree as Info-ZIP stores it.
REF="$W/ref.zip"
[ -f "$REF" ] || (cd "$W" && zip -r -q -6 "$REF" corpus)
cat "$ZIP" "$REF" >/dev/null
JOBOPT=()
[ -n "${JOBS:-}" ] && JOBOPT=(--jobs "$JOBS")

# run LABEL CMD...: median seconds and largest RSS of 3 runs into a fresh folder.
run() {
  local label=$1; shift
  local times=() rss=0
  for _ in 1 2 3; do
    rm -rf "$W/out" && mkdir -p "$W/out" && sync
    /usr/bin/time -f "%e %M" -o "$W/time.txt" "$@" </dev/null >/dev/null 2>"$W/err.txt" ||
      { cat "$W/err.txt" >&2; exit 1; }
    read -r secs kib <"$W/time.txt"
    times+=("$secs")
    [ "$kib" -gt "$rss" ] && rss=$kib
  done
  local med
  med=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
  printf '%-12s median %6s s  (%s)  peak %6s KiB\n' "$label" "$med" "${times[*]}" "$rss"
  echo "$med" >"$W/$label.med"
}
echo "load before: $(uptime)"
run ours "$CLI" --schemes-dir "$S" --quiet "${JOBOPT[@]}" restore Bench b --to "$W/out"
run unzip unzip -q "$REF" -d "$W/out"
run bsdtar bsdtar -xf "$REF" -C "$W/out"
echo "load after: $(uptime)"
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
t = {k: float(open(f"{w}/{k}.med").read()) for k in ("ours", "unzip", "bsdtar")}
print(f"ours/unzip {t['ours'] / max(t['unzip'], 1e-3):.2f}  ours/bsdtar {t['ours'] / max(t['bsdtar'], 1e-3):.2f}")
PY
