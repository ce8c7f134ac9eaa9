#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. When there is no
# settings file yet, a ready sample configuration is made and registered.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
if [ ! -f build/Kelvana.cfg ]; then
  build/Kelvana --make-sample "$PWD/build/sample"
fi
exec build/Kelvana
