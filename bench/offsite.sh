#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times "tessarook-cli push" of the bench corpus's Backup against "rclone copy"
# of the same file, both to the same rclone SFTP (and WebDAV) server on the
# loopback address, and prints each ratio (ours / rclone copy). Every figure
# is the median of BENCH_RUNS runs (default 3), the push and rclone copy
# taking turns; each run starts from an empty remote folder.
#
#   bench/offsite.sh [BUILD_DIR]        (default: build)
#
# Environment: BENCH_DIR (scratch folder, default a new one under /tmp),
# BENCH_KEEP=1 keeps it, BENCH_RUNS. Needs rclone and python3.
# Target: push at most 1.1 x rclone copy's time.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
RUNS="${BENCH_RUNS:-3}"
CLI="$(pwd)/$BUILD/src/cli/tessarook-cli"
[ -x "$CLI" ] || { echo "build $CLI first" >&2; exit 2; }
for tool in rclone python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done

W="${BENCH_DIR:-$(mktemp -d /tmp/tessarook-bench.XXXXXX)}"
mkdir -p "$W"
SERVERS=()
cleanup() {
  for pid in "${SERVERS[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$W"
}
trap cleanup EXIT
C="$W/corpus"
echo "Building the corpus in $C ..."
[ -d "$C" ] || python3 bench/corpus.py "$C"

S="$W/offsite-schemes"
rm -rf "$S"
mkdir -p "$S"
"$CLI" --schemes-dir "$S" new Bench >/dev/null
"$CLI" --schemes-dir "$S" add-folder Bench "$C" >/dev/null
"$CLI" --schemes-dir "$S" --quiet backup Bench b >/dev/null
BACKUP="$S/Bench.tsbak.backups/b.zip"
echo "the Backup: $(stat -c %s "$BACKUP") bytes"

# The servers, each on a port of its own choosing, and an rclone configuration
# naming them.
export RCLONE_CONFIG="$W/rclone.conf"
: >"$RCLONE_CONFIG"
PASS=$(rclone obscure bench)
serve() {  # kind root log: starts the server and sets PORT
  rclone serve "$1" "$2" --addr 127.0.0.1:0 --user bench --pass bench --log-file "$3" \
    --cache-dir "$W/rclone-cache" </dev/null >/dev/null 2>&1 &
  SERVERS+=("$!")
  local marker="listening on 127.0.0.1:"
  [ "$1" = webdav ] && marker="http://127.0.0.1:"
  for _ in $(seq 200); do
    grep -q "$marker" "$3" 2>/dev/null && break
    sleep 0.1
  done
  PORT=$(grep -o "${marker}[0-9]*" "$3" | head -1 | sed 's/.*://')
}
mkdir -p "$W/served-sftp" "$W/served-webdav"
rm -f "$W/sftp.log" "$W/webdav.log"
serve sftp "$W/served-sftp" "$W/sftp.log"
printf '[s]\ntype = sftp\nhost = 127.0.0.1\nport = %s\nuser = bench\npass = %s\n' \
  "$PORT" "$PASS" >>"$RCLONE_CONFIG"
serve webdav "$W/served-webdav" "$W/webdav.log"
printf '[w]\ntype = webdav\nurl = http://127.0.0.1:%s/\nvendor = other\nuser = bench\npass = %s\n' \
  "$PORT" "$PASS" >>"$RCLONE_CONFIG"

# once REMOTE COMMAND...: the seconds one run of COMMAND takes; the folder
# REMOTE is removed through the server before it, untimed ("-": kept).
once() {
  local remote="$1" start end
  shift
  [ "$remote" = - ] || rclone purge "$remote" >/dev/null 2>&1 || true
  sync
  start=$(date +%s.%N)
  "$@" </dev/null >/dev/null 2>"$W/err.txt" || { cat "$W/err.txt" >&2; exit 1; }
  end=$(date +%s.%N)
  python3 -c "print(f'{$end - $start:.3f}')"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { python3 -c "print(f'{$1 / max($2, 0.001):.2f}')"; }

echo "load before: $(uptime)"
declare -A T
for r in s w; do
  root="$W/served-sftp"
  [ "$r" = w ] && root="$W/served-webdav"
  # The push and rclone copy take turns, so that both meet the same load.
  pushes=() copies=() agains=()
  for _ in $(seq "$RUNS"); do
    t=$(once "$r:nas" "$CLI" --schemes-dir "$S" --quiet push Bench "$r:nas")
    pushes+=("$t")
    cmp "$BACKUP" "$root/nas/Bench.tsbak.backups/b.zip"
    t=$(once - "$CLI" --schemes-dir "$S" --quiet push Bench "$r:nas")
    agains+=("$t")
    t=$(once "$r:nas" rclone copy "$BACKUP" "$r:nas/Bench.tsbak.backups")
    copies+=("$t")
    cmp "$BACKUP" "$root/nas/Bench.tsbak.backups/b.zip"
  done
  T[push$r]=$(median "${pushes[@]}")
  T[again$r]=$(median "${agains[@]}")
  T[copy$r]=$(median "${copies[@]}")
done
echo "load after:  $(uptime)"
echo
echo "medians of $RUNS runs on $(nproc) cores"
printf '%-52s %8s %7s\n' "" "time" "ratio"
for r in s w; do
  kind=SFTP
  [ "$r" = w ] && kind=WebDAV
  printf '%-52s %8s s %7s\n' "push to an empty folder, $kind" "${T[push$r]}" \
    "$(ratio "${T[push$r]}" "${T[copy$r]}")"
  printf '%-52s %8s s %7s\n' "rclone copy of the same file, $kind" "${T[copy$r]}" "1.00"
  printf '%-52s %8s s\n' "push that finds everything there, $kind" "${T[again$r]}"
done
echo "(ratios against rclone copy; target: push at most 1.10)"
