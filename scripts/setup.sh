#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the viewer need.
# Idempotent and quiet when everything is there; run as root (or with sudo available).
#
#   scripts/setup.sh            what building, running and the x86-64 and Windows tests need
#   scripts/setup.sh --arm64    that, and the arm64 cross-build and qemu-user (the test command's
#                               arm64 stage): the arm64 architecture is added to dpkg once, and
#                               the arm64 libraries come from Debian's multiarch packages
set -euo pipefail

arm64=false
for argument in "$@"; do
  case "$argument" in
    --arm64) arm64=true ;;
    *) echo "setup: unknown argument '$argument' (known: --arm64)" >&2; exit 2 ;;
  esac
done

packages=(
  # build
  cmake ninja-build g++ pkg-config clang-format
  # packaging: cpack's Debian generator (dpkg-shlibdeps, file) and the desktop entry's check
  dpkg-dev file desktop-file-utils
  # the sanitizer and fuzzing stage: clang with its runtimes (ASan, UBSan, libFuzzer)
  clang libclang-rt-14-dev
  # libraries
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libsdl2-dev libx11-dev libstb-dev
  # the benchmarks' peer: Mesa's llvmpipe through OSMesa
  libosmesa6-dev
  # a display for the end-to-end tests, and tools to drive and capture it
  xvfb xauth xdotool x11-utils imagemagick python3 openbox
  # the Windows build and running it
  mingw-w64 g++-mingw-w64-x86-64-posix wine wine64
  # what Wine's Direct3D 9 needs on a bare X server, which --no-install-recommends leaves out:
  # OpenGL through GLX and Mesa's llvmpipe, and the X extensions Wine's display driver loads
  libgl1 libglx-mesa0 libgl1-mesa-dri libxrandr2 libxrender1 libxi6 libxcursor1 libxcomposite1
  libxfixes3 libxinerama1
)
if $arm64; then
  packages+=(
    # the arm64 cross-compiler, and qemu-user to run its programs on this host
    g++-aarch64-linux-gnu qemu-user
    # the arm64 builds of the libraries the programs and tests link (the benchmarks are not
    # built for arm64); their versions must match the host's, so both come from one update
    libsdl2-dev:arm64 libpng-dev:arm64 libgtest-dev:arm64
  )
fi

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

# A foreign architecture needs a package index update before its packages can be found.
update_needed=false
if $arm64 && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "setup: adding the arm64 architecture to dpkg"
  "${sudo_cmd[@]}" dpkg --add-architecture arm64
  update_needed=true
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && ! $update_needed && exit 0

"${sudo_cmd[@]}" apt-get update -qq
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
