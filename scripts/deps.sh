#!/usr/bin/env bash
# Installs the Debian packages the program and its tests need (only the missing ones).
set -euo pipefail
PKGS="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6opengl6-dev
      libgl1-mesa-dev libzip-dev libsqlite3-dev libgtest-dev googletest libbenchmark-dev
      fonts-liberation qt6-translations-l10n xvfb xauth"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
