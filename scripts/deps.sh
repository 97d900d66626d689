#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Tessarook needs to build, test and run, as
# scripts/packages.txt lists them; with --ci also the tools of .ci/run's checks.
# Does nothing when they are all present already.
set -e
cd "$(dirname "$0")/.."
with_ci=no
[ "${1:-}" = "--ci" ] && with_ci=yes
pkgs=$(sed -e 's/#.*//' scripts/packages.txt | while read -r name tag; do
  [ -n "$name" ] || continue
  if [ -z "$tag" ] || [ "$with_ci" = yes ]; then echo "$name"; fi
done)
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update
# shellcheck disable=SC2086  # one word per package
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
