#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the desktop program.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
if [ -x build/src/gui/tessarook ]; then
  exec build/src/gui/tessarook "$@"
fi
exec build/src/cli/tessarook-cli --help
