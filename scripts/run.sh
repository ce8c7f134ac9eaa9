#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. When there is no
# settings file yet, a ready sample configuration is made in the program
# folder and registered; later runs reuse it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Only the program is built here (the tests and benchmarks are not): one line
# says what is going on, the compiler's own output is shown only on a failure.
mkdir -p build
cores=$(nproc)
if [ -x build/Kelvana ]; then
  echo "Сборка программы (после изменений исходных текстов — до нескольких минут)…"
else
  echo "Первая сборка программы: около $(( 16 / cores + 1 )) мин. на этом компьютере (число ядер процессора: $cores). Журнал сборки: build/run-build.log"
fi
if ! scripts/build.sh Kelvana >build/run-build.log 2>&1; then
  echo "Сборка не удалась. Сообщения сборки:" >&2
  grep -v -E '^\[[0-9]+/[0-9]+\] ' build/run-build.log >&2 || true
  exit 1
fi
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
