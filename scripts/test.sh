#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Tessarook and runs every test suite (GUI suites under a virtual X server).
# Usage: scripts/test.sh [BUILD_DIR [extra cmake options...]]
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD="${1:-build}"
[ $# -gt 0 ] && shift
scripts/build.sh "$BUILD" "$@"
export LANG=C.UTF-8
exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$BUILD" --output-on-failure -j2
