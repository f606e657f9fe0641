#!/usr/bin/env bash
# The Linux packages: builds the Debian package and the .tar.gz from the linux preset's build
# (scripts/test.sh has built it), checks what they hold and declare, then unpacks the Debian
# package into a temporary folder (nothing is installed on the machine) and runs the unpacked
# capture tool: it must print the project's version and draw the same picture as the build's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/linux

scripts/setup.sh
version=$(sed -n 's/^project(anemometer VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt"; exit 1; }
arch=$(dpkg --print-architecture)
failures=0
fail() {
  echo "package: FAIL: $*"
  failures=$((failures + 1))
}

echo "== package: cpack (DEB, TGZ) for version $version"
rm -rf "$build/packages"
(cd "$build" && cpack -G "DEB;TGZ" >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb="$build/packages/anemometer_${version}_${arch}.deb"
tgz="$build/packages/anemometer-${version}-Linux-$(uname -m).tar.gz"
[ -f "$deb" ] || fail "no $deb"
[ -f "$tgz" ] || fail "no $tgz"

expected=(
  usr/bin/anemometer
  usr/bin/anemometer-capture
  usr/share/applications/anemometer.desktop
  usr/share/icons/hicolor/256x256/apps/anemometer.png
  usr/share/doc/anemometer/README.md
)
contents=$(dpkg-deb --contents "$deb")
for path in "${expected[@]}"; do
  grep -q " \./$path\$" <<<"$contents" || fail "the Debian package lacks $path"
done
listing=$(tar tzf "$tgz")
for path in "${expected[@]}"; do
  grep -q "/${path#usr/}\$" <<<"$listing" || fail "the .tar.gz lacks ${path#usr/}"
done

info=$(dpkg-deb --info "$deb")
grep -q "^ Version: $version\$" <<<"$info" || fail "the package's version is not $version"
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
echo "package: Depends: $depends"
for library in libsdl2-2.0-0 libc6 libstdc++6; do
  grep -q "$library" <<<"$depends" || fail "the package does not depend on $library"
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/anemometer.desktop" || fail "desktop entry"
capture="$unpacked/usr/bin/anemometer-capture"
printed=$("$capture" --version) || fail "--version"
[ "$printed" = "anemometer-capture $version" ] || fail "--version printed '$printed'"
"$capture" --angle 30 --keys F5 -o "$unpacked/unpacked.png" || fail "the unpacked capture tool did not draw"
"$build/tools/capture/anemometer-capture" --angle 30 --keys F5 -o "$unpacked/built.png"
cmp -s "$unpacked/unpacked.png" "$unpacked/built.png" ||
  fail "the unpacked capture tool draws another picture than the build's"
python3 - "$unpacked/usr/share/icons/hicolor/256x256/apps/anemometer.png" <<'PY' || fail "icon"
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
width, height = struct.unpack(">II", data[16:24])
assert (width, height) == (256, 256), f"icon is {width}x{height}"
PY

if [ "$failures" -ne 0 ]; then
  echo "package: $failures failure(s)"
  exit 1
fi
echo "package: $(basename "$deb") and $(basename "$tgz") checked; the unpacked capture tool draws the build's picture"
