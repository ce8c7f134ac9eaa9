#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. When there is no
# settings file yet, a ready sample configuration is made in the program
# folder and registered; later runs reuse it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
home="${KELVANA_HOME:-$PWD/build}"
mkdir -p "$home"
if [ ! -f "$home/Kelvana.cfg" ]; then
  KELVANA_HOME="$home" build/Kelvana --make-sample "$home/sample"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Нет графического дисплея (DISPLAY и WAYLAND_DISPLAY не заданы): запустите программу в графическом сеансе: $PWD/build/Kelvana" >&2
  echo "No graphical display (DISPLAY and WAYLAND_DISPLAY are empty): start the program from a desktop session: $PWD/build/Kelvana" >&2
  exit 1
fi
KELVANA_HOME="$home" exec build/Kelvana
