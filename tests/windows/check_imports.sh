#!/usr/bin/env bash
# Reads each Windows program's import table and fails when it names a DLL that not every
# Windows has.
#
# usage: check_imports.sh PROGRAM.exe...
#
# Allowed: kernel32, user32, gdi32 and d3d9, which the viewer calls, and msvcrt.dll, the C
# runtime that MinGW-w64 links against by default and that Windows itself ships (in
# System32 since Windows 2000). Not allowed, among others: the compiler's runtime
# (libstdc++-6, libgcc_s_seh-1, libwinpthread-1: a missing -static), any D3DX DLL (our matrices
# are our own), the Visual C++ redistributable (vcruntime, msvcp) and the Universal C runtime
# (ucrtbase, api-ms-win-crt-*), which Windows 7 and 8.1 lack without an update.
set -euo pipefail

allowed=(kernel32.dll user32.dll gdi32.dll d3d9.dll msvcrt.dll)
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

[ $# -gt 0 ] || { echo "usage: $0 PROGRAM.exe..." >&2; exit 2; }

status=0
for program in "$@"; do
  if ! dump=$("$objdump" -p "$program" 2>&1); then
    echo "imports: $program: cannot read: $dump"
    status=1
    continue
  fi
  if ! grep -q 'pei-x86-64' <<<"$dump"; then
    echo "imports: $program: not a 64-bit Windows program"
    status=1
  fi
  mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$dump")
  if [ ${#dlls[@]} -eq 0 ]; then
    echo "imports: $program: no import table found"
    status=1
    continue
  fi
  bad=()
  for dll in "${dlls[@]}"; do
    lower=${dll,,}
    ok=0
    for a in "${allowed[@]}"; do [ "$lower" = "$a" ] && ok=1; done
    [ $ok -eq 1 ] || bad+=("$dll")
  done
  echo "imports: $(basename "$program"): ${dlls[*]}"
  if [ ${#bad[@]} -gt 0 ]; then
    echo "imports: $(basename "$program"): not allowed: ${bad[*]}"
    status=1
  fi
done
exit $status
