#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the viewer need.
# Idempotent and quiet when everything is there; run as root (or with sudo available).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config clang-format
  # libraries
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libsdl2-dev
  # a display for the end-to-end tests, and tools to drive and capture it
  xvfb xauth xdotool x11-utils imagemagick
  # the Windows build and running it
  mingw-w64 g++-mingw-w64-x86-64-posix wine wine64
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
