#!/usr/bin/env bash
# Installs the Debian packages the program and its tests need (only the missing ones).
set -euo pipefail
PKGS="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6opengl6-dev qt6-multimedia-dev
      libgl1-mesa-dev libzip-dev libsqlite3-dev libcurl4-openssl-dev libgtest-dev googletest libbenchmark-dev
      fonts-liberation qt6-translations-l10n xvfb xauth openbox x11-utils"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "Не хватает пакетов:$missing" >&2
    echo "Установите их от имени администратора (root):" >&2
    echo "  apt-get update && apt-get install -y$missing" >&2
    exit 1
  fi
  SUDO="sudo"
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
