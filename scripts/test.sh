#!/usr/bin/env bash
# Builds everything and runs every test. On a fresh machine it first installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset linux
cmake --build --preset linux
ctest --preset linux

# The Debian package and the .tar.gz: contents, dependencies, and the unpacked capture tool.
scripts/test-package.sh

# The whole suite again under the sanitizers, and the fuzz targets for a bounded time.
scripts/test-sanitize.sh

# The arm64 build, cross-compiled and run under qemu-user: its tests, and the x86-64 frames again.
if [ -x scripts/test-arm64.sh ]; then
  scripts/test-arm64.sh
fi

# The Windows build, cross-compiled and run under Wine.
if [ -x scripts/test-windows.sh ]; then
  scripts/test-windows.sh
fi
