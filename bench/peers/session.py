"""One measured run: one tool on its own X server, from start to end, and
its figures."""

import contextlib
import os
import re
import shutil
import subprocess
import tempfile
import time

from peers.accounting import peak_rss_mib
from peers.common import (HIDDEN_SECONDS, PREFIX, BenchError, end_processes, log, read_text,
                          wait_for)
from peers.desktop import TRAY_ICON_MOST, Desktop
from peers.display import Display

SAMPLE = 0.5  # seconds per CPU sample while waiting for a tool to fall quiet
QUIET_MARGIN = 0.02  # of one core above the quiet rate that still counts as quiet


def packet_socket_open(pids):
    """True when one of `pids` holds an AF_PACKET socket: it is capturing."""
    for pid in pids:
        packet = set()
        for line in read_text(f"/proc/{pid}/net/packet").splitlines()[1:]:
            fields = line.split()
            if fields:
                packet.add(fields[-1])
        if not packet:
            continue
        with contextlib.suppress(OSError):
            for fd in os.listdir(f"/proc/{pid}/fd"):
                with contextlib.suppress(OSError):
                    m = re.fullmatch(r"socket:\[(\d+)\]", os.readlink(f"/proc/{pid}/fd/{fd}"))
                    if m and m.group(1) in packet:
                        return True
    return False


class Session:
    """One tool on its own X server, from start to end, and its figures."""

    def __init__(self, tool, net, accounting, args, stack, logdir, label):
        self.tool, self.net, self.args, self.label, self.logdir = tool, net, args, label, logdir
        self.home = tempfile.mkdtemp(prefix=f"{PREFIX}-{os.getpid()}-")
        stack.callback(shutil.rmtree, self.home, ignore_errors=True)
        # Groups named after the run: one that could not be removed cannot stand in a later run's way.
        self.xgroup = accounting.group(f"{label}-xserver")
        self.display = Display(self.xgroup, stack, self.home)
        self.group = accounting.group(label)
        stack.callback(self.group.remove)
        for d in ("home", "home/.config", "home/.cache", "home/.local/share", "tmp", "runtime"):
            os.makedirs(os.path.join(self.home, d), mode=0o700, exist_ok=True)
        env = {
            "PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
            "HOME": os.path.join(self.home, "home"),
            "XDG_CONFIG_HOME": os.path.join(self.home, "home/.config"),
            "XDG_CACHE_HOME": os.path.join(self.home, "home/.cache"),
            "XDG_RUNTIME_DIR": os.path.join(self.home, "runtime"),
            "TMPDIR": os.path.join(self.home, "tmp"),
            "DISPLAY": self.display.name,
            "LANG": "C.UTF-8",
        }
        self.desktop = None
        if tool.features:
            self.desktop = Desktop(self.home, self.display, self.group, stack, env)
            env.update(self.desktop.tool_env())
        env.update(tool.extra_env())
        self.stderr_path = os.path.join(self.home, "tool.err")
        with open(os.path.join(self.home, "tool.out"), "w") as out, open(self.stderr_path, "w") as err:
            self.proc = subprocess.Popen(
                self.group.prefix() + ["ip", "netns", "exec", net.local] + tool.argv(net),
                env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err, start_new_session=True)
        self.group.attach(self.proc.pid)
        stack.callback(end_processes, self.group.pids, [self.proc], f"ending {tool.name}")
        self.dialogs = []
        self.main = None  # the main window, once known
        self.kept = set()  # windows of the tool kept open beside the main one
        self.tray_icons = set()

    def fail(self, error):
        """The error, with a screenshot and the tool's standard error kept."""
        os.makedirs(self.logdir, exist_ok=True)
        shot = self.display.screenshot(os.path.join(self.logdir, f"{self.label}.png"))
        err = os.path.join(self.logdir, f"{self.label}.stderr")
        with contextlib.suppress(OSError):
            shutil.copy(self.stderr_path, err)
        kept = ", ".join(p for p in (shot, err) if p and os.path.exists(p))
        return BenchError(f"{error} [{self.label}; kept: {kept}]")

    def main_window(self):
        """The tool's largest visible window, once it has one. Not kept until
        the tool says which it is: a splash screen may come first."""
        if self.main:
            return self.main

        def shown():
            if self.proc.poll() is not None:
                raise BenchError(f"{self.tool.name} ended (status {self.proc.returncode}) before "
                                 "its window appeared")
            return self.display.windows(self.proc.pid)
        return wait_for(shown, 90, f"waiting for {self.tool.name}'s window", interval=0.2)[0][0]

    def wait_capturing(self, timeout, step):
        """Until the tool holds a packet socket. A window beside the main one
        that keeps it from starting (a first-run question) is closed with
        Escape where the tool allows it; otherwise it is the failure."""
        start = time.monotonic()
        looked = [start]

        def capturing():
            if self.proc.poll() is not None:
                raise BenchError(f"{step}: {self.tool.name} ended (status {self.proc.returncode})")
            if packet_socket_open(self.group.pids()):
                return True
            now = time.monotonic()
            if now - start > 5 and now - looked[0] > 1:
                looked[0] = now
                self.other_windows(step)
            return False
        wait_for(capturing, timeout, step, interval=0.1)

    def other_windows(self, step):
        """Windows beside the main one (a question, a warning): named in the
        log and closed with Escape, as a person would, where the tool's
        dialogs may be passed by; for quorvelan one is a failure (its
        message boxes say the keyboard missed)."""
        for _ in range(5):
            wins = self.display.windows(self.proc.pid)
            main = self.main or (wins[0][0] if wins else None)
            self.find_tray_icons(wins)
            others = [w for w in wins if w[0] != main and w[0] not in self.kept | self.tray_icons]
            if not others:
                return
            names = [name for _, _, name in others]
            if not self.tool.passes_dialogs:
                raise BenchError(f"{step}: {self.tool.name} shows {names}")
            for wid, _, name in others:
                self.dialogs.append(name)
                log(f"gui-peers: {self.label}: closing {self.tool.name}'s window '{name}' with Escape")
                self.display.keys(wid, "Escape", step=f"closing {self.tool.name}'s window '{name}'")
            time.sleep(0.5)  # it unmaps, or the next look finds it again
        raise BenchError(f"{step}: {self.tool.name}'s windows would not close: {self.dialogs}")

    def find_tray_icons(self, wins):
        """With the desktop's tray, the tool's tray icon is a small window of its own."""
        if self.desktop:
            self.tray_icons |= {wid for wid, area, _ in wins if 0 < area <= TRAY_ICON_MOST}

    def snapshot(self):
        return time.monotonic(), self.group.cpu_seconds(), self.xgroup.cpu_seconds()

    def wait_quiet(self, ceiling, most, step):
        """Until two samples in a row show the tool at or under `ceiling` of
        a core; returns the seconds waited (None when `most` passed)."""
        start = time.monotonic()
        calm = 0
        last = self.snapshot()
        while calm < 2:
            time.sleep(SAMPLE)
            now = self.snapshot()
            if self.proc.poll() is not None:
                raise BenchError(f"{step}: {self.tool.name} ended (status {self.proc.returncode})")
            rate = (now[1] - last[1]) / (now[0] - last[0])
            calm = calm + 1 if rate <= ceiling else 0
            last = now
            if now[0] - start > most:
                return None
        return time.monotonic() - start

    def quiet_hidden(self, seconds):
        """The CPU rates of the tool and of the X server, capture running and
        no traffic, with the tool's windows unmapped as a window manager
        unmaps a minimised one: what leaving it minimised costs. Mapped
        again afterwards for finish()."""
        step = f"hiding {self.tool.name}'s windows"
        # The tray icon stays: a window in the tray is still shown there.
        wins = [wid for wid, _, _ in self.display.windows(self.proc.pid) if wid not in self.tray_icons]
        for wid in wins:
            self.display.xdotool("windowunmap", "--sync", wid, step=step)
        time.sleep(1)  # whatever the unmapping itself set off
        h0 = self.snapshot()
        time.sleep(seconds)
        h1 = self.snapshot()
        for wid in wins:
            self.display.xdotool("windowmap", "--sync", wid, step=f"showing {self.tool.name}'s windows again")
        return (h1[1] - h0[1]) / (h1[0] - h0[0]), (h1[2] - h0[2]) / (h1[0] - h0[0])

    def measure(self, rate, seconds):
        t_start = time.monotonic()
        self.main_window()
        self.tool.start_capture(self)
        settle = self.wait_quiet(0.03, 60, f"{self.tool.name} settling after its start")
        if settle is None:
            log(f"gui-peers: {self.label}: still above 3 % CPU after 60 s; measuring anyway")
        self.other_windows(f"{self.tool.name} capturing")

        q0 = self.snapshot()
        time.sleep(seconds)
        q1 = self.snapshot()
        quiet = {"seconds": q1[0] - q0[0], "tool_cpu": q1[1] - q0[1], "x_cpu": q1[2] - q0[2]}
        quiet_tool = quiet["tool_cpu"] / quiet["seconds"]
        quiet_x = quiet["x_cpu"] / quiet["seconds"]

        f0 = self.snapshot()
        offered = self.net.flood(self.args.flood, rate, seconds, self.args.payload == "numbered")
        flood_end = self.snapshot()
        tail = self.wait_quiet(quiet_tool + QUIET_MARGIN, max(30, 3 * seconds),
                               f"{self.tool.name} catching up after the flood")
        if tail is None:
            log(f"gui-peers: {self.label}: not back to its quiet rate {max(30, 3 * seconds):g} s after "
                "the flood; measured up to then")
        f1 = self.snapshot()
        span = f1[0] - f0[0]
        tool_cost = (f1[1] - f0[1]) - quiet_tool * span
        x_cost = (f1[2] - f0[2]) - quiet_x * span
        # The tool's own memory: the desktop's processes are not the tool.
        helpers = set(self.desktop.pids()) if self.desktop else set()
        rss = peak_rss_mib([p for p in self.group.pids() if p not in helpers])
        if self.desktop:
            self.find_tray_icons(self.display.windows(self.proc.pid))
        hidden_tool, hidden_x = self.quiet_hidden(HIDDEN_SECONDS)
        desktop = None
        if self.desktop:
            desktop = {"tray_icon": bool(self.tray_icons), "kept_open": sorted(self.kept)}
        received, dropped, details = self.tool.finish(self)
        if desktop is not None:
            desktop["history_bytes"] = self.desktop.history_bytes()
            desktop["notifications"] = self.desktop.notifications()
            details["desktop"] = desktop
        if offered and not received:
            raise BenchError(f"{self.tool.name} received none of the {offered} datagrams sent: "
                             "it was not capturing on the monitored interface")
        per_k = 1e6 / offered if offered else float("nan")  # seconds per datagram -> ms per 1,000
        return {
            "tool": self.tool.name, "rate": rate, "seconds": seconds, "offered": offered,
            "received": received, "dropped": dropped, "details": details,
            "tool_ms_per_1k": tool_cost * per_k, "x_ms_per_1k": x_cost * per_k,
            "quiet_cpu_pct": 100 * quiet_tool, "quiet_x_cpu_pct": 100 * quiet_x,
            "hidden_cpu_pct": 100 * hidden_tool, "hidden_x_cpu_pct": 100 * hidden_x,
            "peak_rss_mib": rss,
            "flood_cpu_pct": 100 * (flood_end[1] - f0[1]) / (flood_end[0] - f0[0]),
            "flood_x_cpu_pct": 100 * (flood_end[2] - f0[2]) / (flood_end[0] - f0[0]),
            "window_s": span, "tail_s": tail, "settle_s": settle, "dialogs": self.dialogs,
            "quiet": quiet, "flood_tool_cpu_s": f1[1] - f0[1], "flood_x_cpu_s": f1[2] - f0[2],
            "display": self.display.name, "run_s": time.monotonic() - t_start,
        }


def measure_once(tool, net, accounting, args, rate, seconds, logdir, label):
    with contextlib.ExitStack() as stack:
        s = Session(tool, net, accounting, args, stack, logdir, label)
        try:
            return s.measure(rate, seconds)
        except BenchError as e:
            raise s.fail(e) from None
