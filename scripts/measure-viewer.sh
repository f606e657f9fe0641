#!/usr/bin/env bash
# What the running viewer costs: ./scripts/measure-viewer.sh [--runs N] [--seconds S] [VIEWER...]
#
# Builds build/linux/app/anemometer if needed (or takes the viewer programs named, to compare
# builds side by side: their runs alternate, so all see the same machine), then, once per run and
# viewer, starts it in an X server of its own (Xvfb, 1024 x 768, 24-bit), lets it run S seconds
# (20 unless told), and reports:
#   cpu    the viewer's own CPU time (user + system, all its threads, from /proc/PID/stat) over
#          its wall time since it started, as a share of one core; other processes on the machine
#          do not count, so the figure is steady on a busy machine, though not exact;
#   rss    its peak resident memory (VmHWM from /proc/PID/status);
#   fps    frames shown per second, counted outside the viewer: a small library preloaded into
#          it counts the calls that hand a finished frame to SDL (SDL_UpdateWindowSurface,
#          SDL_RenderPresent, SDL_GL_SwapWindow) and writes the count and the times of the first
#          and last frame when the viewer exits;
#   ms/frame  CPU time per frame shown (cpu over fps), comparable between runs of different rates;
#   gl     whether a GL stack (libGL, libLLVM, a DRI driver) is mapped into the viewer.
# The viewer is ended with SIGTERM, which closes its window, as a user's close would.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
seconds=20
viewers=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    -*) echo "usage: $0 [--runs N] [--seconds S] [VIEWER...]" >&2; exit 2 ;;
    *) viewers+=("$(realpath "$1")"); shift ;;
  esac
done

if [ ${#viewers[@]} -eq 0 ]; then
  if [ ! -f build/linux/build.ninja ]; then
    cmake --preset linux >/dev/null
  fi
  cmake --build --preset linux --target anemometer >/dev/null
  viewers=("$PWD/build/linux/app/anemometer")
fi

work="$(mktemp -d)"
xvfb_pid=""
viewer_pid=""
cleanup() {
  if [ -n "$viewer_pid" ] && kill -0 "$viewer_pid" 2>/dev/null; then kill -KILL "$viewer_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The frame counter, preloaded into the viewer.
cat >"$work/count.c" <<'EOF'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static unsigned long frames;
static double first, last;

static void Count(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    last = (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
    if (frames++ == 0) first = last;
}

int SDL_UpdateWindowSurface(void* window) {
    static int (*next)(void*);
    if (!next) next = (int (*)(void*))dlsym(RTLD_NEXT, "SDL_UpdateWindowSurface");
    Count();
    return next(window);
}

int SDL_UpdateWindowSurfaceRects(void* window, const void* rects, int count) {
    static int (*next)(void*, const void*, int);
    if (!next) next = (int (*)(void*, const void*, int))dlsym(RTLD_NEXT, "SDL_UpdateWindowSurfaceRects");
    Count();
    return next(window, rects, count);
}

void SDL_RenderPresent(void* renderer) {
    static void (*next)(void*);
    if (!next) next = (void (*)(void*))dlsym(RTLD_NEXT, "SDL_RenderPresent");
    Count();
    next(renderer);
}

void SDL_GL_SwapWindow(void* window) {
    static void (*next)(void*);
    if (!next) next = (void (*)(void*))dlsym(RTLD_NEXT, "SDL_GL_SwapWindow");
    Count();
    next(window);
}

__attribute__((destructor)) static void Report(void) {
    const char* path = getenv("MEASURE_FRAMES_FILE");
    FILE* out = path ? fopen(path, "w") : NULL;
    if (out) {
        fprintf(out, "%lu %.6f\n", frames, last - first);
        fclose(out);
    }
}
EOF
cc -shared -fPIC -O2 -o "$work/count.so" "$work/count.c" -ldl

read -r _ _ cpu_model < <(lscpu | grep -m1 'Model name' | tr -s ' ')
echo "machine: ${cpu_model:-unknown}, $(nproc) cores; ${seconds} s per run, ${runs} run(s) per viewer"

# An X server of its own: -displayfd picks a free display, -noreset keeps it across viewers.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  grep -q . "$work/display" 2>/dev/null && break
  sleep 0.1
done
display=":$(head -n1 "$work/display")"
[ "$display" != ":" ] || { echo "Xvfb did not start" >&2; exit 1; }

ticks="$(getconf CLK_TCK)"
printf '%-4s %8s %10s %8s %9s %-3s %s\n' run cpu rss fps ms/frame gl viewer
for run in $(seq "$runs"); do
for viewer in "${viewers[@]}"; do
  rm -f "$work/frames"
  DISPLAY="$display" MEASURE_FRAMES_FILE="$work/frames" LD_PRELOAD="$work/count.so" \
    SDL_VIDEODRIVER=x11 "$viewer" >/dev/null 2>"$work/stderr" &
  viewer_pid=$!
  sleep "$seconds"
  if ! kill -0 "$viewer_pid" 2>/dev/null; then
    echo "the viewer ended early:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  # Fields after the command's closing parenthesis: utime is the 14th field, stime the 15th,
  # starttime the 22nd of the whole line.
  stat="$(sed 's/.*) //' "/proc/$viewer_pid/stat")"
  read -r utime stime starttime < <(awk '{ print $12, $13, $20 }' <<<"$stat")
  read -r uptime _ </proc/uptime
  hwm_kb="$(awk '/^VmHWM:/ { print $2 }' "/proc/$viewer_pid/status")"
  if grep -Eq 'libGL|libGLX|libLLVM|_dri\.so|libgallium' "/proc/$viewer_pid/maps"; then gl=yes; else gl=no; fi
  kill -TERM "$viewer_pid"
  wait "$viewer_pid" || true
  viewer_pid=""
  read -r frames span <"$work/frames" || { frames=0; span=0; }
  awk -v u="$utime" -v s="$stime" -v st="$starttime" -v up="$uptime" -v hz="$ticks" -v hwm="$hwm_kb" \
      -v n="$frames" -v span="$span" -v run="$run" -v gl="$gl" \
      -v v="${viewer#"$PWD"/}" 'BEGIN {
    wall = up - st / hz
    fps = span > 0 ? (n - 1) / span : 0
    share = (u + s) / hz / wall
    printf "%-4s %7.1f%% %6.1f MiB %8.1f %9.2f %-3s %s\n", run, 100 * share, hwm / 1024, fps, (fps > 0 ? 1000 * share / fps : 0), gl, v
  }'
done
done
