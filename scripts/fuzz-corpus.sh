#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the seed corpus of the fuzz targets, fuzz/corpus/TARGET/, with the program
# itself: a small Scheme with a few files, a Backup of it, a second Backup that
# reuses the first, the Scheme exported as a .csm, the Backup's file list, and
# settings files. The result is checked in; run this again when a format changes.
# Usage: scripts/fuzz-corpus.sh [TESSAROOK_CLI [FUZZ_SETTINGS]]
#   TESSAROOK_CLI   default build/src/cli/tessarook-cli
#   FUZZ_SETTINGS   the built fuzz_settings target (default build-fuzz/fuzz/fuzz_settings);
#                   it writes the settings files through the program's own settings store
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/src/cli/tessarook-cli}")
fuzz_settings=$(realpath "${2:-build-fuzz/fuzz/fuzz_settings}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=fuzz/corpus

# Files worth backing up: text, an empty file, a name with blanks and umlauts,
# a file that compresses well and one that does not.
src="$work/files"
mkdir -p "$src/docs/sub"
printf 'Dear Ann,\nthe Backup ran.\n' >"$src/docs/letter.txt"
: >"$src/docs/empty"
printf 'Sicherungen-\xc3\xa4\xc3\xb6\n' >"$src/docs/sub/Notiz äö.txt"
printf 'abcabcabc%.0s' {1..200} >"$src/docs/sub/repeats.log"
head -c 300 /dev/urandom >"$src/docs/noise.bin"
printf 'single file\n' >"$src/single.txt"
touch -d '2026-01-02 03:04:05' "$src"/docs/* "$src"/docs/sub/* "$src/single.txt"

schemes="$work/schemes"
run() { "$cli" --quiet --schemes-dir "$schemes" "$@"; }
run new Home
run add Home "$src/docs" "$src/single.txt"
run exclude Home "$src/docs" log
run backup Home first >/dev/null
printf 'changed\n' >>"$src/docs/letter.txt"
run backup Home second >/dev/null
run export Home "$work/home.csm" >/dev/null

rm -rf "$out"
mkdir -p "$out"/{fuzz_backup_open,fuzz_manifest,fuzz_csm,fuzz_scheme_file,fuzz_settings}
backups="$schemes/Home.tsbak.backups"
cp "$backups/first.zip" "$out/fuzz_backup_open/backup.zip"
cp "$backups/second.zip" "$out/fuzz_backup_open/backup-reused.zip"
unzip -p "$backups/first.zip" list.txt >"$out/fuzz_manifest/list.txt"
cp "$work/home.csm" "$out/fuzz_csm/home.csm"
cp "$schemes/Home.tsbak" "$out/fuzz_scheme_file/home.tsbak"
run new Empty
cp "$schemes/Empty.tsbak" "$out/fuzz_scheme_file/empty.tsbak"

# Settings: fuzz_settings loads its input and saves it through the settings store
# to output.xml in its scratch folder below TMPDIR. The inputs: a file as this
# version writes it, and one as older versions wrote it (windows-1252 bytes).
settings_in="$work/settings-in"
mkdir -p "$settings_in" "$work/tmp"
printf '<?xml version="1.0" encoding="UTF-8" ?>\n<settings><dir_schemes>/home/ann/Sicherungen-\xc3\xa4\xc3\xb6 &amp; more</dir_schemes><autorefresh>0</autorefresh><minimize_to_tray>1</minimize_to_tray><files_view>3</files_view><backups_sorting>3</backups_sorting></settings>\n' \
  >"$settings_in/current.xml"
printf '<?xml version="1.0" encoding="windows-1252" ?>\n<settings>\n    <dir_schemes>/home/ann/Sicherungen-\xe4\xf6 \x80</dir_schemes>\n    <autorefresh>1</autorefresh>\n</settings>\n' \
  >"$settings_in/older.xml"
for name in current older; do
  TMPDIR="$work/tmp" "$fuzz_settings" -runs=1 "$settings_in/$name.xml" >/dev/null 2>&1
  find "$work/tmp" -name output.xml -exec cp {} "$out/fuzz_settings/$name-saved.xml" \;
  rm -rf "${work:?}/tmp/"*
done
cp "$settings_in/older.xml" "$out/fuzz_settings/older.xml"
du -ab "$out" | sort -k2
