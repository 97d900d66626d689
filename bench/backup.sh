#!/bin/bash
# Times taking and restoring a Backup against Info-ZIP on the same tree, in the
# same run, and prints each ratio (ours / theirs) with the peak memory.
#
#   bench/backup.sh [BUILD_DIR]        (default: build)
#
# Environment: BENCH_DIR (scratch folder, default a new one under /tmp),
# BENCH_KEEP=1 keeps it. Needs zip, unzip and GNU time (/usr/bin/time).
# Targets: backup and restore each at most 1.25 x the reference tool's time,
# peak memory under 64 MiB while backing up a 2 GiB file.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
CLI="$(pwd)/$BUILD/src/cli/tessarook-cli"
[ -x "$CLI" ] || { echo "build $CLI first" >&2; exit 2; }
for tool in zip unzip python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done

W="${BENCH_DIR:-$(mktemp -d /tmp/tessarook-bench.XXXXXX)}"
mkdir -p "$W"
[ "${BENCH_KEEP:-0}" = 1 ] || trap 'rm -rf "$W"' EXIT
C="$W/corpus"

echo "Building the corpus in $C ..."
if [ ! -d "$C" ]; then
  mkdir -p "$C/big"
  python3 - "$C" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(7)
words = [("".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 10))))
         for _ in range(5000)]
def text(n):
    out, size = [], 0
    while size < n:
        line = " ".join(rnd.choice(words) for _ in range(rnd.randint(4, 16))) + "\n"
        out.append(line); size += len(line)
    return "".join(out)[:n].encode()
# compressible: text and log-like files, 160 MB in all
block = text(4 << 20)
for i in range(8):
    with open(f"{root}/big/text{i}.txt", "wb") as f:
        for _ in range(5):
            f.write(block[i:] + block[:i])
# incompressible: random data, 120 MB in all
for i in range(4):
    with open(f"{root}/big/random{i}.bin", "wb") as f:
        f.write(os.urandom(30 << 20))
# 20,000 small files in nested folders
n = 0
for a in range(20):
    for b in range(20):
        d = f"{root}/small/d{a}/e{b}"
        os.makedirs(d, exist_ok=True)
        for c in range(50):
            size = rnd.choice([0, 100, 700, 2000, 5000, 12000])
            data = text(size) if c % 5 else os.urandom(size)
            with open(f"{d}/f{c}.{'txt' if c % 5 else 'dat'}", "wb") as f:
                f.write(data)
            n += 1
print(f"{n} small files")
PY
fi
cat $(find "$C" -type f) >/dev/null  # warm the page cache for both tools

S="$W/schemes"
rm -rf "$S"
mkdir -p "$S"
"$CLI" --schemes-dir "$S" new Bench
"$CLI" --schemes-dir "$S" add-folder Bench "$C"

# measure COMMAND... : prints "seconds max_rss_kib": the best time of 3 runs, the
# largest peak memory.
measure() {
  local best="" rss=0
  for _ in 1 2 3; do
    "$PREPARE" >/dev/null 2>&1 || true
    /usr/bin/time -f "%e %M" -o "$W/time.txt" "$@" </dev/null >/dev/null 2>"$W/err.txt" ||
      { cat "$W/err.txt" >&2; exit 1; }
    read -r secs kib <"$W/time.txt"
    if [ -z "$best" ] || python3 -c "import sys; sys.exit(not $secs < $best)"; then best=$secs; fi
    [ "$kib" -gt "$rss" ] && rss=$kib
  done
  echo "$best $rss"
}
ratio() { python3 -c "print(f'{$1 / max($2, 0.001):.2f}')"; }

# Each run starts with no dirty pages left by the one before (sync is not timed).
clean_backup() { rm -f "$S/Bench.tsbak.backups/b.zip" "$W/ref.zip"; sync; }
PREPARE=clean_backup
read -r ours_b ours_b_rss < <(measure "$CLI" --schemes-dir "$S" --quiet backup Bench b --force)
read -r ref_b ref_b_rss < <(cd "$W" && measure zip -r -q -6 "$W/ref.zip" corpus)
"$CLI" --schemes-dir "$S" --quiet backup Bench b --force >/dev/null
(cd "$W" && zip -r -q -6 "$W/ref.zip" corpus)
unzip -tq "$S/Bench.tsbak.backups/b.zip" >/dev/null

clean_restore() { rm -rf "$W/out1" "$W/out2"; sync; }
PREPARE=clean_restore
read -r ours_r ours_r_rss < <(measure "$CLI" --schemes-dir "$S" --quiet restore Bench b --to "$W/out1")
read -r ref_r ref_r_rss < <(measure unzip -q "$W/ref.zip" -d "$W/out2")
"$CLI" --schemes-dir "$S" --quiet restore Bench b --to "$W/out1" >/dev/null
diff -r "$C" "$W/out1$C" >/dev/null || { echo "restored tree differs" >&2; exit 1; }

# Peak memory while backing up one 2 GiB file (mostly zeros, some random data).
mkdir -p "$W/huge"
python3 - "$W/huge/two.gib" <<'PY'
import os, sys
with open(sys.argv[1], "wb") as f:
    f.truncate(2 << 30)
    for i in range(64):
        f.seek(i * (32 << 20)); f.write(os.urandom(1 << 20))
PY
"$CLI" --schemes-dir "$S" new Huge
"$CLI" --schemes-dir "$S" add-file Huge "$W/huge/two.gib"
PREPARE=true
/usr/bin/time -f "%e %M" -o "$W/time.txt" "$CLI" --schemes-dir "$S" --quiet backup Huge h --force >/dev/null
read -r huge_s huge_rss <"$W/time.txt"

printf '%-34s %9s %9s %7s %12s %12s\n' "" "ours(s)" "ref(s)" "ratio" "ours RSS" "ref RSS"
printf '%-34s %9s %9s %7s %9s KiB %9s KiB\n' "backup vs zip -r -q -6" "$ours_b" "$ref_b" \
  "$(ratio "$ours_b" "$ref_b")" "$ours_b_rss" "$ref_b_rss"
printf '%-34s %9s %9s %7s %9s KiB %9s KiB\n' "restore --to vs unzip -q" "$ours_r" "$ref_r" \
  "$(ratio "$ours_r" "$ref_r")" "$ours_r_rss" "$ref_r_rss"
printf 'backup of a 2 GiB file: %s s, peak memory %s KiB (%s MiB)\n' "$huge_s" "$huge_rss" \
  "$((huge_rss / 1024))"
echo "sizes: ours $(stat -c %s "$S/Bench.tsbak.backups/b.zip") bytes, zip $(stat -c %s "$W/ref.zip") bytes"
