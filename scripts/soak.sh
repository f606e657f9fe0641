#!/usr/bin/env bash
# The soak: the viewer's frames and keys headless on the software device for a long run
# (default 200,000 frames, some minutes), with a key storm, a million presses of Left and the eye
# on the vertical through the origin; memory must stay flat, the live vertex buffers constant,
# and no matrix handed to the device may hold a NaN. Not part of scripts/test.sh.
#   scripts/soak.sh [FRAMES]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "${JOBS:-2}" --target soak
exec /usr/bin/time -f "soak: wall %e s, max resident %M KB" build/linux/tests/soak/soak "$@"
