#!/bin/bash
# Puts the licence tag "SPDX-License-Identifier: GPL-3.0-or-later" into every
# source and script file of the repository that lacks it: as the first line, or
# the line after a "#!" line. Run it again after merging; it changes nothing
# where the tag is present.
# Usage: scripts/spdx.sh          add the tag where it is missing
#        scripts/spdx.sh --check  only list the files without it (exit 1 if any)
set -euo pipefail
cd "$(dirname "$0")/.."
tag="SPDX-License-Identifier: GPL-3.0-or-later"
check=no
[ "${1:-}" = "--check" ] && check=yes

# The files that carry the tag, and the comment that holds it in each kind.
comment_for() {
  case "$1" in
    *.cpp | *.h) echo "// $tag" ;;
    *.1) echo ".\\\" $tag" ;;
    *) echo "# $tag" ;;
  esac
}
mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h' '*.sh' 'CMakeLists.txt' '*/CMakeLists.txt' \
  '*.cmake' '*.cmake.in' '*.service.in' '*.timer.in' '*.1' .ci/run completion/ scripts/ \
  ':!:scripts/packages.txt')

missing=0
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  head -n 3 "$file" | grep -q "$tag" && continue
  if [ "$check" = yes ]; then
    echo "$file: no \"$tag\"" >&2
    missing=1
    continue
  fi
  line=$(comment_for "$file")
  temp=$(mktemp)
  if head -n 1 "$file" | grep -q '^#!'; then
    { head -n 1 "$file"; printf '%s\n' "$line"; tail -n +2 "$file"; } >"$temp"
  else
    { printf '%s\n' "$line"; cat "$file"; } >"$temp"
  fi
  cat "$temp" >"$file"  # the file keeps its mode
  rm -f "$temp"
done
exit "$missing"
