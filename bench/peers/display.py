"""The X server and xdotool."""

import contextlib
import os
import re
import select
import subprocess
import time

from peers.common import BenchError, end_processes, run


class Display:
    """A fresh Xvfb in a control group of its own; its number is the one it
    chose itself (-displayfd), known once it is ready for clients."""

    def __init__(self, group, stack, logdir):
        self.group = group
        read_end, write_end = os.pipe()
        try:
            with open(os.path.join(logdir, "xvfb.err"), "w") as err:
                self.proc = subprocess.Popen(
                    group.prefix() + ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                      "1920x1080x24", "-nolisten", "tcp", "-noreset"],
                    pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=err, start_new_session=True)
        finally:
            os.close(write_end)
        stack.callback(self.stop)
        group.attach(self.proc.pid)
        text = b""
        until = time.monotonic() + 30
        while not text.endswith(b"\n"):
            left = until - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                os.close(read_end)
                raise BenchError("starting Xvfb: it chose no display within 30 s")
            chunk = os.read(read_end, 64)
            if not chunk:
                os.close(read_end)
                raise BenchError("starting Xvfb: it ended before it was ready "
                                 f"(see {os.path.join(logdir, 'xvfb.err')})")
            text += chunk
        os.close(read_end)
        self.name = ":" + text.decode().strip()

    def stop(self):
        end_processes(self.group.pids, [self.proc], "ending Xvfb")
        self.group.remove()

    def xdotool(self, *args, step, timeout=15):
        return run(["xdotool", *args], step, timeout=timeout, env={**os.environ, "DISPLAY": self.name})

    def windows(self, pid):
        """The visible windows of a process, largest first, as (id, area, name)."""
        def query(*args):
            try:
                return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=15,
                                      env={**os.environ, "DISPLAY": self.name}).stdout
            except subprocess.TimeoutExpired:
                return ""  # asked again by whoever waits for a window

        found = []
        for wid in query("search", "--onlyvisible", "--pid", str(pid)).split():
            m = re.search(r"Geometry: (\d+)x(\d+)", query("getwindowgeometry", wid))
            area = int(m.group(1)) * int(m.group(2)) if m else 0
            found.append((wid, area, query("getwindowname", wid).strip()))
        return sorted(found, key=lambda w: -w[1])

    def keys(self, wid, *keys, step):
        # xdotool's XTEST input goes to the window that has the focus, as a
        # person's would; without a window manager it must be given the focus.
        self.xdotool("windowfocus", "--sync", wid, step=step)
        self.xdotool("key", "--delay", "40", *keys, step=step)

    def type(self, wid, text, step):
        self.xdotool("windowfocus", "--sync", wid, step=step)
        self.xdotool("type", "--delay", "30", text, step=step)

    def screenshot(self, path):
        """Best effort: for the report of a failed step."""
        with contextlib.suppress(Exception):
            xwd = subprocess.run(["xwd", "-root", "-silent", "-display", self.name],
                                 capture_output=True, timeout=20).stdout
            subprocess.run(["convert", "xwd:-", path], input=xwd, capture_output=True, timeout=60)
            if os.path.exists(path):
                return path
        return None
