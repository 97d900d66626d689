#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Daily Backups against restic and borg, in the same run: the first Backup, a
# second of the unchanged corpus, Backups after 1 % of the files changed, and
# the room taken by 7 daily Backups (the first, the unchanged one, then five
# days of 1 % changes), with the Backups on tmpfs and on an XFS image with
# reflink. Also one large text file at the fastest level against borg's lz4.
#
#   bench/incremental.sh [BUILD_DIR]        (default: build; run as root for XFS)
#
# Every time is the median of BENCH_RUNS rounds (default 3); within a step the
# tools take turns in an order that changes each round. The times after 1 %
# change are the median of all such days of all rounds. Room on tmpfs is what
# du counts; on XFS the file system's own count of used blocks (du counts
# shared blocks once per file). restic runs with its defaults (encrypted,
# compression auto), borg unencrypted with lz4, ours at level 6 unless said.
#
# Environment: BENCH_DIR (scratch folder, default a new one in /dev/shm),
# BENCH_RUNS, BENCH_XFS=0 (tmpfs only), BENCH_BIG=0 (leave out the large
# file), BENCH_BIG_MB (its size, default 3000).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
RUNS="${BENCH_RUNS:-3}"
BIG_MB="${BENCH_BIG_MB:-3000}"
CLI="$(realpath -m "$BUILD")/src/cli/tessarook-cli"
[ -x "$CLI" ] || { echo "build $CLI first" >&2; exit 2; }
for tool in restic borg python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done
XFS="${BENCH_XFS:-1}"
if [ "$XFS" = 1 ] && { [ "$(id -u)" != 0 ] || ! command -v mkfs.xfs >/dev/null; }; then
  echo "XFS left out: needs root and mkfs.xfs (xfsprogs)" >&2
  XFS=0
fi

W="${BENCH_DIR:-$(mktemp -d /dev/shm/tessarook-incremental.XXXXXX)}"
mkdir -p "$W"
MOUNTS=()
cleanup() {
  for m in "${MOUNTS[@]}"; do umount "$m" 2>/dev/null || true; done
  rm -rf "$W"
}
trap cleanup EXIT
export RESTIC_PASSWORD=bench RESTIC_CACHE_DIR="$W/cache/restic" BORG_BASE_DIR="$W/cache/borg"
export BORG_UNKNOWN_UNENCRYPTED_REPO_ACCESS_IS_OK=yes BORG_RELOCATED_REPO_ACCESS_IS_OK=yes
C="$W/corpus"
SETTINGS="$W/settings.xml"  # none: the normal level

load() { echo "$(uptime | sed 's/.*load/load/'); compilers running: $(pgrep -c cc1plus || true)"; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR ? a[int((NR+1)/2)] : "-")}'; }
ratio() { python3 -c "print(f'{$1 / max($2, 0.001):.2f}')"; }
# Runs a command, appending its time in seconds to the file $1.
timed() {
  local out="$1"
  shift
  sync
  /usr/bin/time -f %e -o "$W/t" "$@" </dev/null >/dev/null 2>"$W/err" ||
    { cat "$W/err" >&2; exit 1; }
  cat "$W/t" >>"$out"
}

echo "Building the corpus ..."
python3 bench/corpus.py "$W/base" >/dev/null
echo "load before: $(load)"

# Rewrites 1 % of the small files (every hundredth, a different set each day).
change_one_percent() {
  python3 - "$C" "$1" <<'PY'
import os, random, sys
root, day = sys.argv[1], int(sys.argv[2])
files = sorted(os.path.join(p, f) for p, _, fs in os.walk(os.path.join(root, "small")) for f in fs)
rnd = random.Random(day)
for path in files[day % 100::100]:
    data = bytearray(open(path, "rb").read())
    for _ in range(8):
        data[rnd.randrange(len(data))] = ord(rnd.choice("abcdefghij"))
    open(path, "wb").write(bytes(data) + b"changed\n")
PY
}

# Where one tool's Backups go for a round: a folder on tmpfs, or a fresh XFS
# file system of its own, with what it holds when empty.
declare -A D BASE
target() {
  local kind="$1" name="$2" dir="$W/$1/$2"
  mkdir -p "$dir"
  if [ "$kind" = xfs ]; then
    truncate -s 4G "$W/$name.img"
    mkfs.xfs -q -f -m reflink=1 "$W/$name.img"
    mount -o loop "$W/$name.img" "$dir"
    MOUNTS+=("$dir")
    sync
    BASE[$dir]=$(df --output=used -B1 "$dir" | tail -1)
  fi
  D[$name]="$dir"
}
used() {  # bytes the tool's Backups take
  if [ "$1" = xfs ]; then
    echo $(($(df --output=used -B1 "$2" | tail -1) - ${BASE[$2]}))
  else
    du -s --block-size=1 "$2" | cut -f1
  fi
}

run_kind() {
  local kind="$1"
  local R="$W/results-$kind"
  rm -rf "$R"
  mkdir -p "$R"
  for round in $(seq "$RUNS"); do
    rm -rf "$C" "$W/cache"
    cp -a "$W/base" "$C"
    for tool in ours restic borg; do target "$kind" "$tool"; done
    "$CLI" --schemes-dir "${D[ours]}" --quiet new Bench >/dev/null
    "$CLI" --schemes-dir "${D[ours]}" --quiet add-folder Bench "$C" >/dev/null
    restic -r "${D[restic]}/repo" --quiet init >/dev/null
    borg init -e none "${D[borg]}/repo"
    # Files are recorded for reuse once they have stood still a few seconds,
    # as they have before a real daily Backup.
    sleep 4
    local order=(ours restic borg)
    case $((round % 3)) in
      1) order=(restic borg ours) ;;
      2) order=(borg ours restic) ;;
    esac
    for day in 1 2 3 4 5 6 7; do
      local step=changed
      [ "$day" = 1 ] && step=first
      [ "$day" = 2 ] && step=second
      if [ "$step" = changed ]; then
        change_one_percent "$((round * 10 + day))"
        sleep 4
      fi
      for tool in "${order[@]}"; do
        case $tool in
          ours) timed "$R/ours.$step" "$CLI" --settings "$SETTINGS" --schemes-dir "${D[ours]}" \
            --quiet backup Bench "day$day" --level 6 ;;
          restic) timed "$R/restic.$step" restic -r "${D[restic]}/repo" --quiet backup "$C" ;;
          borg) timed "$R/borg.$step" borg create --compression lz4 "${D[borg]}/repo::day$day" "$C" ;;
        esac
      done
    done
    sync
    for tool in ours restic borg; do used "$kind" "${D[$tool]}" >>"$R/$tool.disk"; done
    # The last Backup of ours, copied from six before it, is whole.
    "$CLI" --schemes-dir "${D[ours]}" --quiet verify Bench day7 >/dev/null
    for tool in ours restic borg; do
      if [ "$kind" = xfs ]; then
        umount "${D[$tool]}"
        rm -f "$W/$tool.img"
      fi
      rm -rf "${D[$tool]}"
    done
    MOUNTS=()
  done
  echo
  echo "== Backups on $kind: medians of $RUNS rounds =="
  printf '%-28s %10s %10s %10s %14s %14s\n' "" ours restic borg "ours/restic" "ours/borg"
  for step in first second changed; do
    local o r b
    o=$(median <"$R/ours.$step") r=$(median <"$R/restic.$step") b=$(median <"$R/borg.$step")
    printf '%-28s %9ss %9ss %9ss %14s %14s\n' "$step" "$o" "$r" "$b" "$(ratio "$o" "$r")" \
      "$(ratio "$o" "$b")"
  done
  local o r b
  o=$(median <"$R/ours.disk") r=$(median <"$R/restic.disk") b=$(median <"$R/borg.disk")
  printf '%-28s %8sMB %8sMB %8sMB %14s %14s\n' "room after 7 dailies" "$((o / 1000000))" \
    "$((r / 1000000))" "$((b / 1000000))" "$(ratio "$o" "$r")" "$(ratio "$o" "$b")"
  echo "(first: ours at level 6; changed: every 1 %-changed day of every round)"
  echo "load now: $(load)"
}

run_kind tmpfs
[ "$XFS" = 1 ] && run_kind xfs

if [ "${BENCH_BIG:-1}" = 1 ]; then
  rm -rf "$C" "$W/base" "$W/cache"
  mkdir -p "$W/big" "$W/bigout"
  python3 bench/corpus.py --text "$W/big/text.txt" "$((BIG_MB * 1000000))"
  "$CLI" --schemes-dir "$W/bigout" --quiet new Big >/dev/null
  "$CLI" --schemes-dir "$W/bigout" --quiet add-file Big "$W/big/text.txt" >/dev/null
  for round in $(seq "$RUNS"); do
    rm -rf "$W/bigout/Big.tsbak.backups" "$W/bigout/borg" "$W/cache"
    borg init -e none "$W/bigout/borg"
    timed "$W/big.ours" "$CLI" --settings "$SETTINGS" --schemes-dir "$W/bigout" --quiet \
      backup Big b --level 1
    timed "$W/big.borg" borg create --compression lz4 "$W/bigout/borg::b" "$W/big"
  done
  o=$(median <"$W/big.ours") b=$(median <"$W/big.borg")
  zip_size=$(stat -c %s "$W/bigout/Big.tsbak.backups/b.zip")
  echo
  echo "== One ${BIG_MB} MB text file on tmpfs: medians of $RUNS =="
  echo "ours --level 1: ${o}s ($((zip_size / 1000000)) MB); borg lz4: ${b}s; ours/borg $(ratio "$o" "$b")"
  echo "load now: $(load)"
fi
