# Sourced by scripts/test-windows.sh: one X server and one Wine for the whole Windows stage.
#
# wine_session_start DIR   starts Xvfb on a free display and a persistent wineserver for the
#                          prefix DIR/wineprefix (made on first use, about 15-20 s), and exports
#                          DISPLAY, WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES for what follows.
# wine_session_stop        ends the prefix's Wine processes and the X server.
# wine_run_timeout S ARGS  runs a Windows program under Wine, killed after S seconds.
#
# Choices:
#  * Xvfb -displayfd picks a display no other X server uses, so parallel runs cannot meet.
#    24-bit colour, as the back buffer is X8R8G8B8; no window manager, so Wine decorates its
#    windows itself and their places and sizes are exactly those the program asked for.
#  * The prefix lives in the build directory, 64-bit only (Debian's wine64 without wine32).
#    WINEDLLOVERRIDES disables mscoree and mshtml, so making the prefix asks for neither Mono
#    nor Gecko; WINEDEBUG=-all keeps Wine's diagnostics out of the test log.
#  * wineserver -p keeps the server and the prefix's services running between programs, so
#    each later start costs well under a second instead of seconds.

WINE_SESSION_XVFB_PID=""

wine_session_start() {
  local dir=$1
  mkdir -p "$dir"
  local display_file="$dir/xvfb-display"
  : >"$display_file"
  # -noreset: the server would otherwise reset whenever its last client leaves, racing the next one.
  Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset 9>"$display_file" >"$dir/xvfb.log" 2>&1 &
  WINE_SESSION_XVFB_PID=$!
  local i
  for i in $(seq 100); do
    [ -s "$display_file" ] && break
    kill -0 "$WINE_SESSION_XVFB_PID" 2>/dev/null || { echo "wine session: Xvfb did not start:"; cat "$dir/xvfb.log"; return 1; }
    sleep 0.1
  done
  [ -s "$display_file" ] || { echo "wine session: Xvfb gave no display"; return 1; }
  export DISPLAY=":$(head -n1 "$display_file")"

  export WINEPREFIX="$dir/wineprefix"
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  local started=$SECONDS
  mkdir -p "$WINEPREFIX"   # wine fills an empty prefix directory; the server needs it to exist
  wineserver -p
  if ! timeout 180 wineboot -i >"$dir/wineboot.log" 2>&1; then
    echo "wine session: wineboot failed:"
    cat "$dir/wineboot.log"
    return 1
  fi
  echo "wine session: display $DISPLAY, prefix ready in $((SECONDS - started)) s ($(wine --version 2>/dev/null))"
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null || true
  fi
  if [ -n "$WINE_SESSION_XVFB_PID" ]; then
    kill "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    wait "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    WINE_SESSION_XVFB_PID=""
  fi
}

wine_run_timeout() {
  local seconds=$1
  shift
  timeout --kill-after=5 "$seconds" wine "$@"
}

# The Windows path of a file on this host: a new prefix maps / to drive Z:.
wine_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}
