#!/usr/bin/env python3
"""The viewer's window under a real window manager (openbox in its own Xvfb): the window's outer
rectangle, frame included, is 800 x 600 at the screen's top-left corner, as CreateWindowExA asked,
and the client area is what the frame leaves; closing it with Alt+F4 ends the viewer with 0.

Usage: viewer_wm_e2e.py PATH_TO_ANEMOMETER
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import viewer_e2e  # noqa: E402  (its Xvfb, viewer and check helpers)


def frame_extents(env, window):
    out = subprocess.run(["xprop", "-id", window, "_NET_FRAME_EXTENTS"], env=env, capture_output=True,
                         text=True).stdout
    if "=" not in out:
        return None
    left, right, top, bottom = (int(v) for v in out.split("=", 1)[1].split(","))
    return left, right, top, bottom


def client_rectangle(env, window):
    """The client area's absolute position and size (xwininfo's; xdotool's position counts the
    frame twice under a reparenting window manager)."""
    out = subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True, text=True).stdout
    values = {}
    for line in out.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]), int(values["Width"]),
            int(values["Height"]))


def run(program, display):
    env = dict(os.environ, DISPLAY=display)
    wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(0.5)  # let it take over the screen before the window is mapped
        viewer = viewer_e2e.Viewer(program, display)
        # The frame becomes known some time after mapping; the viewer then fits itself.
        deadline = time.monotonic() + 10
        extents = outer = None
        while time.monotonic() < deadline:
            extents = frame_extents(env, viewer.window)
            if extents and sum(extents) > 0:
                x, y, width, height = client_rectangle(env, viewer.window)
                left, right, top, bottom = extents
                outer = (x - left, y - top, width + left + right, height + top + bottom)
                if outer[2:] == (800, 600):
                    break
            time.sleep(0.1)
        viewer_e2e.check(extents is not None and sum(extents) > 0, "the window manager framed the window: %s" %
                         (extents,))
        viewer_e2e.check(outer is not None and outer[2:] == (800, 600),
                         "outer size with the frame is 800 x 600: %s" % (outer,))
        viewer_e2e.check(outer is not None and outer[:2] == (0, 0), "outer rectangle at (0, 0): %s" % (outer,))
        picture = viewer.shot()
        viewer_e2e.check(picture.width < 800 and picture.height < 600,
                         "the client area is what the frame leaves: %d x %d" % (picture.width, picture.height))
        viewer.xdotool("windowactivate", "--sync", viewer.window)
        viewer.xdotool("key", "alt+F4")
        code, seconds = viewer.wait_for_exit(5)
        viewer_e2e.check(code == 0, "Alt+F4 under the window manager ends the viewer with 0 (%s, %.2f s)" %
                         (code, seconds))
    finally:
        viewer_e2e.stop_leftover_viewers()
        wm.terminate()
        wm.wait()


def main():
    viewer_e2e.run = run
    viewer_e2e.main()


if __name__ == "__main__":
    main()
