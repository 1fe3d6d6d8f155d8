"""The desktop a monitor that is kept running lives on (--features): a session
bus of the run's own with a notification daemon on it (dunst), a system tray
(trayer) on the run's X server, and quorvelan's settings written before it
starts: alerts on, 最小化到托盘 on, its history in the run's own data folder.

The bus, dunst and trayer run in the tool's control group, so that their CPU
is counted with the tool's; what the X server does for them is counted with
the X server's, as for the tool."""

import contextlib
import os
import re
import subprocess

from peers.common import BenchError, end_processes, wait_for

# Both windows quorvelan shows count as its own; a window this small is the
# tray icon trayer embeds.
TRAY_ICON_MOST = 64 * 64

# Every alert of the settings dialog on; the daily amount low enough that a
# program could reach it. The block list holds documentation ranges only, so
# that the flood's addresses are looked up in it and never found.
SETTINGS = """[tray]
minimizeToTray=true

[alerts]
newProgram=true
newHost=true
byNetwork=false
dailyAmount=true
dailyBytes=1048576
blocklist=true
blocklistPath={blocklist}
"""
BLOCKLIST = "# documentation ranges: nothing in the benchmark's namespaces\n" \
            "192.0.2.0/24\n198.51.100.0/24\n203.0.113.7\n2001:db8::/32\n"


def write_private(path, text):
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_NOFOLLOW, 0o600)
    with os.fdopen(fd, "w") as f:
        f.write(text)


class Desktop:
    def __init__(self, home, display, group, stack, env):
        self.display = display
        self.data = os.path.join(home, "home/.local/share")
        config = env["XDG_CONFIG_HOME"]
        blocklist = os.path.join(config, "quorvelan", "blocklist.txt")
        write_private(blocklist, BLOCKLIST)
        write_private(os.path.join(config, "quorvelan", "quorvelan.conf"),
                      SETTINGS.format(blocklist=blocklist))
        os.makedirs(self.data, mode=0o700, exist_ok=True)
        # A path, not an abstract socket: the tool runs in another network
        # namespace, where abstract sockets of this one cannot be reached.
        socket = os.path.join(env["XDG_RUNTIME_DIR"], "bus")
        self.bus = f"unix:path={socket}"
        self.env = {**env, "DBUS_SESSION_BUS_ADDRESS": self.bus}
        self.procs = []
        stack.callback(end_processes, lambda: [], self.procs, "ending the desktop")
        logs = open(os.path.join(home, "desktop.err"), "w")
        stack.callback(logs.close)

        def start(argv):
            p = subprocess.Popen(group.prefix() + argv, env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=logs, start_new_session=True)
            group.attach(p.pid)
            self.procs.append(p)
            return p

        start(["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address={self.bus}"])
        wait_for(lambda: os.path.exists(socket), 15, "starting the session bus")
        start(["dunst"])
        wait_for(self.notifications_served, 15, "starting dunst on the session bus", interval=0.2)
        trayer = start(["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
                        "--height", "24", "--transparent", "false", "--SetDockType", "true"])

        def tray_shown():
            if trayer.poll() is not None:
                raise BenchError(f"starting trayer: it ended (status {trayer.returncode})")
            return display.windows(trayer.pid)
        wait_for(tray_shown, 15, "starting trayer", interval=0.2)

    def tool_env(self):
        return {"DBUS_SESSION_BUS_ADDRESS": self.bus, "XDG_DATA_HOME": self.data}

    def pids(self):
        return [p.pid for p in self.procs if p.poll() is None]

    def notifications_served(self):
        with contextlib.suppress(OSError, subprocess.TimeoutExpired):
            out = subprocess.run(
                ["dbus-send", f"--bus={self.bus}", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                 "string:org.freedesktop.Notifications"],
                capture_output=True, text=True, timeout=5).stdout
            return "boolean true" in out
        return False

    def notifications(self):
        """The notifications dunst received: waiting, on show and in its history."""
        with contextlib.suppress(OSError, subprocess.TimeoutExpired):
            out = subprocess.run(["dunstctl", "count"], env=self.env, capture_output=True,
                                 text=True, timeout=5).stdout
            counts = [int(n) for n in re.findall(r":\s*(\d+)", out)]
            if counts:
                return sum(counts)
        return None

    def history_bytes(self):
        """The size of the usage database and its write-ahead log."""
        total = 0
        folder = os.path.join(self.data, "quorvelan")
        with contextlib.suppress(OSError):
            for name in os.listdir(folder):
                total += os.path.getsize(os.path.join(folder, name))
        return total
