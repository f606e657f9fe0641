#!/usr/bin/env bash
# Builds the viewer and starts it: ./scripts/run.sh
# On a fresh machine it first installs what building needs (scripts/setup.sh). It needs a display
# (DISPLAY set, or SDL_VIDEODRIVER naming another of SDL's video drivers).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target anemometer
exec build/linux/app/anemometer "$@"
