#!/bin/sh
# Installs the Debian packages Tessarook needs to build, test and run.
# Does nothing when they are all present already.
set -e
PKGS="cmake g++ make pkg-config libwxgtk3.2-dev libdeflate-dev zlib1g-dev libtinyxml-dev
googletest libgtest-dev xvfb xauth unzip zip python3 7zip libarchive-tools xfsprogs btrfs-progs
fonts-dejavu-core librsvg2-bin dpkg-dev systemd"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
