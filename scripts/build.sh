#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Tessarook into build/ (or the folder given as $1).
set -e
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
shift 2>/dev/null || true
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD" -j2
