#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the viewer need.
# Idempotent and quiet when everything is there; run as root (or with sudo available).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config clang-format
  # the sanitizer and fuzzing stage: clang with its runtimes (ASan, UBSan, libFuzzer)
  clang libclang-rt-14-dev
  # libraries
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libsdl2-dev libstb-dev
  # a display for the end-to-end tests, and tools to drive and capture it
  xvfb xauth xdotool x11-utils imagemagick python3 openbox
  # the Windows build and running it
  mingw-w64 g++-mingw-w64-x86-64-posix wine wine64
  # what Wine's Direct3D 9 needs on a bare X server, which --no-install-recommends leaves out:
  # OpenGL through GLX and Mesa's llvmpipe, and the X extensions Wine's display driver loads
  libgl1 libglx-mesa0 libgl1-mesa-dri libxrandr2 libxrender1 libxi6 libxcursor1 libxcomposite1
  libxfixes3 libxinerama1
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
