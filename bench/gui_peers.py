#!/usr/bin/env python3
"""quorvelan's real window against Wireshark's own, each alone on an X server
of its own, on the same evenly paced flood of 64-byte UDP datagrams.

Run by bench/gui-peers (root), which installs what it needs and builds the
programs first. For each rate, run and tool in turn:

  1. a fresh Xvfb (nothing else on it) and the tool, started inside the
     monitored network namespace with a fresh, empty home and profile;
  2. the capture started as a person would: quorvelan's address picked in its
     本机地址 list and 开始 pressed with the keyboard through xdotool;
     Wireshark started with -k -i <veth>; capturing is confirmed by the
     tool's packet socket;
  3. a quiet period (capture running, no traffic), then the flood from the
     peer namespace for as long, then until the tool has fallen quiet again,
     then quiet with the tool's windows unmapped, as a window manager unmaps
     a minimised window;
  4. CPU time of the tool's processes and of the X server over each phase,
     the quiet rate subtracted from the flood's, per 1,000 datagrams sent;
     the peak RSS of the tool's processes; what it received and dropped
     (quorvelan's figures line on exit, Wireshark's capture file).

Every child runs in a session of its own, so Ctrl+C reaches this script only,
which then ends them and removes the namespaces and control groups. Leftovers
of a run that was killed outright are removed at the next start.
"""

import argparse
import contextlib
import datetime
import glob
import json
import os
import re
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

DATAGRAM_BYTES = 64
PREFIX = "qvgp"  # namespaces, links and control groups of this benchmark
CGROUP_V1 = "/sys/fs/cgroup/cpuacct"
CGROUP_V2 = ("/sys/fs/cgroup", "/sys/fs/cgroup/unified")
SAMPLE = 0.5  # seconds per CPU sample while waiting for a tool to fall quiet
QUIET_MARGIN = 0.02  # of one core above the quiet rate that still counts as quiet
HIDDEN_SECONDS = 10  # of quiet with the tool's windows unmapped (minimised)


class BenchError(Exception):
    """A step that failed; the message names it."""


def log(text):
    print(text, file=sys.stderr, flush=True)


def wait_for(condition, timeout, step, interval=0.05):
    """condition()'s first true value, polled until `timeout` seconds pass."""
    until = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= until:
            raise BenchError(f"{step}: not within {timeout:g} s")
        time.sleep(interval)


def run(argv, step, timeout=30, **kw):
    """A short command's standard output; a failure names the step."""
    try:
        done = subprocess.run(argv, capture_output=True, text=True, timeout=timeout, **kw)
    except subprocess.TimeoutExpired:
        raise BenchError(f"{step}: {argv[0]} did not finish within {timeout} s") from None
    if done.returncode != 0:
        raise BenchError(f"{step}: {' '.join(argv)} failed: {done.stderr.strip()}")
    return done.stdout


def pid_alive(pid):
    """Running, not a zombie that nobody has reaped yet."""
    stat = read_text(f"/proc/{pid}/stat")
    return bool(stat) and stat[stat.rfind(")") + 2 : stat.rfind(")") + 3] not in ("Z", "X")


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


# ---- Which processes belong to a tool, and their CPU time ----


class CgroupGroup:
    """A control group of its own holding every process started inside it:
    their CPU time (v1 in nanoseconds, v2 in microseconds), that of children
    which have ended included."""

    def __init__(self, parent, name, usage_file, scale):
        self.path = os.path.join(parent, name)
        os.mkdir(self.path)
        self._usage = os.path.join(self.path, usage_file)
        self._scale = scale

    def prefix(self):
        # The shell puts itself in the group, then becomes the program.
        return ["/bin/sh", "-c", 'echo $$ >"$0" && exec "$@"', os.path.join(self.path, "cgroup.procs")]

    def attach(self, pid):
        pass

    def pids(self):
        return [int(p) for p in read_text(os.path.join(self.path, "cgroup.procs")).split()]

    def cpu_seconds(self):
        text = read_text(self._usage)
        if self._scale == "usage_usec":
            m = re.search(r"^usage_usec (\d+)", text, re.M)
            return int(m.group(1)) / 1e6 if m else 0.0
        return int(text or 0) / 1e9

    def remove(self):
        with contextlib.suppress(OSError):
            os.rmdir(self.path)


class TreeGroup:
    """Without a usable control group: the process started and its descendants,
    from /proc; the time of threads and processes that have ended is lost
    (per-thread schedstat, in nanoseconds) or only ticks are known."""

    def __init__(self, ticks):
        self._ticks = ticks
        self._root = None
        self._hz = os.sysconf("SC_CLK_TCK")

    def prefix(self):
        return []

    def attach(self, pid):
        self._root = pid

    def pids(self):
        if self._root is None or not pid_alive(self._root):
            return []
        found, todo = [], [self._root]
        while todo:
            pid = todo.pop()
            found.append(pid)
            for task in glob.glob(f"/proc/{pid}/task/*/children"):
                todo.extend(int(c) for c in read_text(task).split())
        return found

    def cpu_seconds(self):
        total = 0.0
        for pid in self.pids():
            if self._ticks:
                stat = read_text(f"/proc/{pid}/stat")
                fields = stat[stat.rfind(")") + 2 :].split()
                if len(fields) > 12:
                    total += (int(fields[11]) + int(fields[12])) / self._hz
                continue
            for task in glob.glob(f"/proc/{pid}/task/*/schedstat"):
                text = read_text(task).split()
                if text:
                    total += int(text[0]) / 1e9
        return total

    def remove(self):
        pass


class Accounting:
    """Chooses the most precise CPU source the machine offers."""

    SOURCES = ("cgroup1", "cgroup2", "schedstat", "ticks")

    def __init__(self, wanted):
        self.source = None
        self.parent = None
        candidates = []
        if os.path.exists(os.path.join(CGROUP_V1, "cpuacct.usage")):
            candidates.append(("cgroup1", CGROUP_V1))
        # cgroup v2 alone, or beside v1 (systemd's hybrid layout)
        for v2 in CGROUP_V2:
            if os.path.exists(os.path.join(v2, "cgroup.controllers")):
                candidates.append(("cgroup2", v2))
                break
        if glob.glob("/proc/self/task/*/schedstat"):
            candidates.append(("schedstat", None))
        candidates.append(("ticks", None))
        for source, root in candidates:
            if wanted not in ("auto", source):
                continue
            if root is not None:
                self.parent = os.path.join(root, f"{PREFIX}-{os.getpid()}")
                self.source = source
                problem = self._probe()
                if problem:
                    log(f"gui-peers: no usable control group in {root} ({problem}); "
                        "trying the next CPU source")
                    self.remove()
                    self.parent = self.source = None
                    continue
            self.source = source
            break
        if self.source is None:
            raise BenchError(f"CPU source: {wanted} is not available on this machine")

    def _probe(self):
        """Why a process cannot be started inside a group here, if it cannot
        (a container may show the hierarchy read-only, or refuse the move)."""
        try:
            os.mkdir(self.parent)
            group = self.group("probe")
        except OSError as e:
            return str(e)
        done = subprocess.run(group.prefix() + ["true"], capture_output=True, text=True)
        group.remove()
        if done.returncode != 0:
            return done.stderr.strip() or "the move failed"
        return None

    def describe(self):
        return {
            "cgroup1": "cgroup v1 cpuacct.usage (ns, the tool's whole tree)",
            "cgroup2": "cgroup v2 cpu.stat usage_usec (us, the tool's whole tree)",
            "schedstat": "per-thread /proc/<pid>/task/*/schedstat (ns, live threads only)",
            "ticks": "/proc/<pid>/stat utime+stime (clock ticks, live processes only)",
        }[self.source]

    def group(self, name):
        if self.source == "cgroup1":
            return CgroupGroup(self.parent, name, "cpuacct.usage", "ns")
        if self.source == "cgroup2":
            return CgroupGroup(self.parent, name, "cpu.stat", "usage_usec")
        return TreeGroup(ticks=self.source == "ticks")

    def remove(self):
        if self.parent:
            remove_cgroup_tree(self.parent)


def peak_rss_mib(pids):
    total = 0
    for pid in pids:
        m = re.search(r"^VmHWM:\s+(\d+) kB", read_text(f"/proc/{pid}/status"), re.M)
        if m:
            total += int(m.group(1))
    return total / 1024


def end_processes(pids_of, popens, step):
    """SIGTERM, then SIGKILL, to every process `pids_of()` lists and every
    Popen given, until none is left; reaps what is ours."""
    def left():
        return {p for p in pids_of() if pid_alive(p)} | {p.pid for p in popens if p.poll() is None}

    for sig, grace in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
        for pid in left():
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, sig)
        until = time.monotonic() + grace
        while time.monotonic() < until:
            if not left():
                return
            time.sleep(0.05)
    stayed = left()
    if stayed:
        log(f"gui-peers: {step}: processes {sorted(stayed)} outlived SIGKILL")


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


# ---- The network ----


class Network:
    """Two namespaces joined by a veth pair, 10.213.x.x addresses inside them
    only; IPv6 off in both, so the quiet period is quiet."""

    def __init__(self):
        pid = os.getpid()
        self.local = f"{PREFIX}l{pid}"
        self.peer = f"{PREFIX}p{pid}"
        self.device = f"{PREFIX}{pid}a"
        peer_device = f"{PREFIX}{pid}b"
        net = pid % 200 + 20
        self.local_address = f"10.213.{net}.1"
        self.made = True  # from here on, remove() has something to remove
        run(["ip", "netns", "add", self.local], "making the network namespaces")
        run(["ip", "netns", "add", self.peer], "making the network namespaces")
        for ns in (self.local, self.peer):
            # A kernel without IPv6 has no such setting, and no IPv6 traffic either.
            off = "for c in all default; do echo 1 >/proc/sys/net/ipv6/conf/$c/disable_ipv6; done"
            subprocess.run(["ip", "netns", "exec", ns, "/bin/sh", "-c", off], capture_output=True)
        for argv in (
            ["ip", "link", "add", self.device, "netns", self.local, "type", "veth",
             "peer", "name", peer_device, "netns", self.peer],
            ["ip", "-n", self.local, "addr", "add", f"{self.local_address}/24", "dev", self.device],
            ["ip", "-n", self.peer, "addr", "add", f"10.213.{net}.2/24", "dev", peer_device],
            ["ip", "-n", self.local, "link", "set", self.device, "up"],
            ["ip", "-n", self.peer, "link", "set", peer_device, "up"],
            ["ip", "-n", self.local, "link", "set", "lo", "up"],
            ["ip", "-n", self.peer, "link", "set", "lo", "up"],
        ):
            run(argv, "making the network namespaces")

    def remove(self):
        if self.made:
            for ns in (self.local, self.peer):
                subprocess.run(["ip", "netns", "del", ns], capture_output=True)


def sweep_leftovers():
    """Namespaces and control groups of an earlier run that was killed before
    it could remove them (its process id is gone)."""
    names = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
    for line in names.splitlines():
        m = re.match(rf"({PREFIX}[lp](\d+))\b", line)
        if m and not pid_alive(int(m.group(2))):
            # Its tool or sender, where no control group holds them.
            inside = subprocess.run(["ip", "netns", "pids", m.group(1)], capture_output=True, text=True)
            end_processes(lambda: [int(p) for p in inside.stdout.split() if pid_alive(int(p))], [],
                          "leftovers")
            subprocess.run(["ip", "netns", "del", m.group(1)], capture_output=True)
    for parent in [p for root in (CGROUP_V1,) + CGROUP_V2 for p in glob.glob(f"{root}/{PREFIX}-*")]:
        m = re.search(r"-(\d+)$", parent)
        if m and not pid_alive(int(m.group(1))):
            remove_cgroup_tree(parent)
    # The homes of its tools, with Wireshark's capture files.
    for home in glob.glob(os.path.join(tempfile.gettempdir(), f"{PREFIX}-*-*")):
        m = re.search(rf"{PREFIX}-(\d+)-", os.path.basename(home))
        if m and not pid_alive(int(m.group(1))):
            shutil.rmtree(home, ignore_errors=True)


def remove_cgroup_tree(parent):
    """Ends whatever still runs in the groups under `parent`, then removes them."""
    for procs in glob.glob(os.path.join(parent, "*", "cgroup.procs")):
        end_processes(lambda f=procs: [int(p) for p in read_text(f).split()], [], "leftovers")
        with contextlib.suppress(OSError):
            os.rmdir(os.path.dirname(procs))
    with contextlib.suppress(OSError):
        os.rmdir(parent)


# ---- The X server and xdotool ----


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


# ---- The tools ----


class Tool:
    name = ""
    passes_dialogs = False  # may a window beside the main one be closed with Escape?

    def __init__(self, args):
        self.args = args

    def argv(self, net):
        raise NotImplementedError

    def start_capture(self, session):
        raise NotImplementedError

    def finish(self, session):
        """Stops the capture and the tool: (received, dropped, details)."""
        raise NotImplementedError


class Quorvelan(Tool):
    name = "quorvelan"
    # From the first tab stop (退出, focused when the window opens) back
    # through the data pane, 保存, 关于 and 过滤器 to the 本机地址 list: the
    # order of the main window's template (res/dialogs.cpp).
    BACK_TO_ADDRESSES = 5
    FIGURES = re.compile(r"quorvelan: (\d+) received, (\d+) dropped by the kernel, (\d+) turned away "
                         r"by the filter, (\d+) rows")

    def argv(self, net):
        return [self.args.quorvelan]

    def start_capture(self, s):
        step = "starting quorvelan's capture with the keyboard"
        wid = s.main_window()
        s.display.keys(wid, *["shift+Tab"] * self.BACK_TO_ADDRESSES, step=step)
        # The list selects the item whose text is typed.
        s.display.type(wid, s.net.local_address, step=step)
        # Back from the list: 停止 is disabled until a capture runs, so 开始.
        s.display.keys(wid, "shift+Tab", "space", step=step)
        s.wait_capturing(15, "quorvelan: no packet socket after 本机地址 and 开始 were chosen")

    def finish(self, s):
        step = "closing quorvelan with Escape"
        s.display.keys(s.main_window(), "Escape", step=step)
        try:
            s.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise BenchError(f"{step}: it was still running 60 s later") from None
        m = self.FIGURES.search(read_text(s.stderr_path))
        if not m:
            raise BenchError(f"{step}: no figures line on its standard error ({s.stderr_path})")
        received, dropped, filtered, rows = (int(x) for x in m.groups())
        return received, dropped, {"turned_away": filtered, "rows": rows}


def pcapng_counts(path):
    """IPv4 frames in a pcapng file, and the drops its interface statistics
    block tells (None without one). Every length read is checked against
    the block it is in, so a cut or damaged file stops the count early."""
    frames, drops, truncated = 0, None, False
    endian, linktypes = "<", []
    with open(path, "rb") as f:
        while True:
            head = f.read(8)
            if len(head) < 8:
                truncated = len(head) > 0
                break
            if head[:4] == b"\x0a\x0d\x0d\x0a":
                magic = f.read(4)
                if len(magic) < 4:
                    truncated = True
                    break
                endian = "<" if magic == b"\x4d\x3c\x2b\x1a" else ">"
                f.seek(-4, os.SEEK_CUR)
                linktypes = []
            kind, length = struct.unpack(endian + "II", head)
            if length < 12 or length % 4:
                truncated = True
                break
            body = f.read(length - 8)
            if len(body) < length - 8:
                truncated = True
                break
            body = body[:-4]  # the trailing copy of the length
            if kind == 1 and len(body) >= 2:  # interface description
                linktypes.append(struct.unpack(endian + "H", body[:2])[0])
            elif kind == 6 and len(body) >= 20:  # enhanced packet
                iface, _, _, caplen, _ = struct.unpack(endian + "IIIII", body[:20])
                frame = body[20 : 20 + min(caplen, len(body) - 20)]
                if is_ipv4(frame, linktypes[iface] if iface < len(linktypes) else None):
                    frames += 1
            elif kind == 3 and len(body) >= 4:  # simple packet: the first interface's
                if is_ipv4(body[4:], linktypes[0] if linktypes else None):
                    frames += 1
            elif kind == 5 and len(body) >= 12:  # interface statistics
                at, dropped = 12, 0
                while at + 4 <= len(body):
                    code, size = struct.unpack(endian + "HH", body[at : at + 4])
                    value = body[at + 4 : at + 4 + size]
                    if code == 0 or len(value) < size:
                        break
                    if code in (5, 7) and size == 8:  # isb_ifdrop, isb_osdrop
                        dropped += struct.unpack(endian + "Q", value)[0]
                    at += 4 + (size + 3) // 4 * 4
                drops = dropped
    return frames, drops, truncated


def is_ipv4(frame, linktype):
    if linktype == 1:  # Ethernet, possibly with one 802.1Q tag
        if len(frame) >= 14 and frame[12:14] == b"\x81\x00":
            return len(frame) >= 18 and frame[16:18] == b"\x08\x00"
        return len(frame) >= 14 and frame[12:14] == b"\x08\x00"
    if linktype in (101, 228):  # raw IP, raw IPv4
        return len(frame) >= 1 and frame[0] >> 4 == 4
    return False


class Wireshark(Tool):
    name = "Wireshark"
    passes_dialogs = True

    def argv(self, net):
        return ["wireshark", "-k", "-i", net.device]

    def start_capture(self, s):
        # -k started it; its capture child (dumpcap) holds the socket.
        s.wait_capturing(60, "Wireshark: no packet socket (dumpcap) after -k -i")

    def finish(self, s):
        step = "stopping Wireshark's capture with Ctrl+E"
        s.display.keys(s.main_window(), "ctrl+e", step=step)
        # dumpcap writes its statistics block and leaves.
        wait_for(lambda: s.group.pids() and set(s.group.pids()) <= {s.proc.pid}, 30, step)
        files = glob.glob(os.path.join(s.home, "tmp", "wireshark_*"))
        if len(files) != 1:
            raise BenchError(f"{step}: expected one capture file in {s.home}/tmp, found {files}")
        received, dropped, truncated = pcapng_counts(files[0])
        details = {"capture_file_bytes": os.path.getsize(files[0]), "truncated": truncated}
        # Its quit would ask to save the capture; the run ends it instead.
        end_processes(s.group.pids, [s.proc], "ending Wireshark")
        return received, dropped, details


# ---- One measured run ----


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
        for d in ("home", "home/.config", "home/.cache", "tmp", "runtime"):
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
        self.stderr_path = os.path.join(self.home, "tool.err")
        with open(os.path.join(self.home, "tool.out"), "w") as out, open(self.stderr_path, "w") as err:
            self.proc = subprocess.Popen(
                self.group.prefix() + ["ip", "netns", "exec", net.local] + tool.argv(net),
                env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err, start_new_session=True)
        self.group.attach(self.proc.pid)
        stack.callback(end_processes, self.group.pids, [self.proc], f"ending {tool.name}")
        self.dialogs = []

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
        """The tool's largest visible window, once it has one. Not kept: a
        splash screen may come first."""
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
            others = wins[1:]
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
        wins = [wid for wid, _, _ in self.display.windows(self.proc.pid)]
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
        sender = subprocess.Popen(
            ["ip", "netns", "exec", self.net.peer, self.args.flood, self.net.local_address,
             str(DATAGRAM_BYTES), str(rate), str(seconds)],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
        try:
            out, err = sender.communicate(timeout=seconds + 60)
        except subprocess.TimeoutExpired:
            raise BenchError(f"flooding at {rate}/s: the sender ran past {seconds + 60:g} s") from None
        finally:
            # Also on Ctrl+C: the sender would otherwise keep its namespace alive.
            if sender.poll() is None:
                sender.kill()
                sender.communicate()
        if sender.returncode != 0 or not out.strip().isdigit():
            raise BenchError(f"flooding at {rate}/s: the sender failed: {err.strip()}")
        offered = int(out)
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
        rss = peak_rss_mib(self.group.pids())
        hidden_tool, hidden_x = self.quiet_hidden(HIDDEN_SECONDS)
        received, dropped, details = self.tool.finish(self)
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


# ---- The table ----


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, form):
    return "-" if value is None else format(value, form)


def ratio(a, b):
    return a / b if a is not None and b not in (None, 0) else None


def table(results, rates, tools, runs, source):
    lines = [
        f"{DATAGRAM_BYTES}-byte UDP datagrams, each tool alone on its own Xvfb; each figure the median "
        f"of its runs ({runs} a rate and tool); CPU from {source};",
        "CPU per 1,000 datagrams offered, over the flood and until the tool fell quiet, less the quiet "
        "period's rate (same length, capture running, no traffic); hidden: the quiet rate with the tool's "
        f"windows unmapped, as minimised ({HIDDEN_SECONDS} s)",
        "",
        f"{'rate/s':>7} {'tool':<21} {'offered':>8} {'received':>8} {'dropped':>7} {'tool ms/1k':>10} "
        f"{'X ms/1k':>8} {'quiet CPU%':>10} {'hidden CPU%':>11} {'peak RSS MiB':>12}",
    ]
    for rate in rates:
        rows = {}
        for tool in tools:
            mine = [r for r in results if r["tool"] == tool and r["rate"] == rate]
            if not mine:
                continue
            row = {k: median([r[k] for r in mine]) for k in
                   ("offered", "received", "dropped", "tool_ms_per_1k", "x_ms_per_1k",
                    "quiet_cpu_pct", "hidden_cpu_pct", "peak_rss_mib")}
            rows[tool] = row
            lines.append(
                f"{rate:>7} {tool:<21} {fmt(row['offered'], '.0f'):>8} {fmt(row['received'], '.0f'):>8} "
                f"{fmt(row['dropped'], '.0f'):>7} {fmt(row['tool_ms_per_1k'], '.2f'):>10} "
                f"{fmt(row['x_ms_per_1k'], '.2f'):>8} {fmt(row['quiet_cpu_pct'], '.2f'):>10} "
                f"{fmt(row['hidden_cpu_pct'], '.3f'):>11} {fmt(row['peak_rss_mib'], '.1f'):>12}")
        if "quorvelan" in rows and "Wireshark" in rows:
            q, w = rows["quorvelan"], rows["Wireshark"]
            lines.append(
                f"{rate:>7} {'quorvelan/Wireshark':<21} {'':>8} {'':>8} {'':>7} "
                f"{fmt(ratio(q['tool_ms_per_1k'], w['tool_ms_per_1k']), '.2f'):>10} "
                f"{fmt(ratio(q['x_ms_per_1k'], w['x_ms_per_1k']), '.2f'):>8} "
                f"{fmt(ratio(q['quiet_cpu_pct'], w['quiet_cpu_pct']), '.2f'):>10} "
                f"{fmt(ratio(q['hidden_cpu_pct'], w['hidden_cpu_pct']), '.2f'):>11} "
                f"{fmt(ratio(q['peak_rss_mib'], w['peak_rss_mib']), '.2f'):>12}")
    return "\n".join(lines)


# ---- Main ----


def parse_args(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.path.join(os.path.dirname(here), "build", "bench")
    p = argparse.ArgumentParser(
        prog="bench/gui-peers",
        description="CPU, X server CPU and memory of quorvelan's window against Wireshark's, "
                    "each alone on the same paced UDP flood.")
    p.add_argument("--rates", default="200,1000,10000,50000",
                   help="datagrams a second (200,1000,10000,50000)")
    p.add_argument("--runs", type=int, default=3, help="runs per rate and tool; the median is shown (3)")
    p.add_argument("--seconds", default=None,
                   help="flood length, one value or one per rate; the quiet period is as long "
                        "(20 below 1,000/s, else 10)")
    p.add_argument("--tools", default="quorvelan,wireshark", help="quorvelan,wireshark")
    p.add_argument("--cpu-source", default="auto", choices=("auto",) + Accounting.SOURCES,
                   help="where CPU time is read (auto: the most precise one available)")
    p.add_argument("--build-dir", default=build, help=argparse.SUPPRESS)
    a = p.parse_args(argv)
    try:
        a.rates = [int(r) for r in a.rates.split(",")]
        if a.seconds is None:
            a.seconds = [20.0 if r < 1000 else 10.0 for r in a.rates]
        else:
            a.seconds = [float(s) for s in a.seconds.split(",")]
            if len(a.seconds) == 1:
                a.seconds *= len(a.rates)
    except ValueError:
        p.error("--rates and --seconds take numbers separated by commas")
    if len(a.seconds) != len(a.rates):
        p.error("--seconds takes one value, or one per rate")
    if any(r <= 0 for r in a.rates) or any(s <= 0 for s in a.seconds) or a.runs < 1:
        p.error("rates, seconds and runs must be positive (the flood is paced)")
    names = {"quorvelan": "quorvelan", "wireshark": "Wireshark"}
    a.tools = [names.get(t.strip().lower()) for t in a.tools.split(",") if t.strip()]
    if not a.tools or None in a.tools:
        p.error("--tools takes quorvelan, wireshark or both")
    a.quorvelan = os.path.join(a.build_dir, "app", "quorvelan")
    a.flood = os.path.join(a.build_dir, "bench", "bench_flood")
    return a


def check_machine(args):
    if os.geteuid() != 0:
        raise BenchError("checking the machine: needs root (network namespaces, capture, "
                         "control groups)")
    needed = ["ip", "Xvfb", "xdotool"] + (["wireshark", "dumpcap"] if "Wireshark" in args.tools else [])
    missing = [n for n in needed if shutil.which(n) is None]
    for path in [args.flood] + ([args.quorvelan] if "quorvelan" in args.tools else []):
        if not os.access(path, os.X_OK):
            missing.append(path)
    if missing:
        raise BenchError(f"checking the machine: missing {', '.join(missing)} (bench/gui-peers installs "
                         "and builds them)")


def versions():
    def output(argv):
        with contextlib.suppress(OSError):
            return subprocess.run(argv, capture_output=True, text=True).stdout.strip() or "?"
        return "?"  # git, say, need not be installed

    info = {"kernel": os.uname().release, "loadavg": read_text("/proc/loadavg").strip()}
    for pkg in ("wireshark-qt", "xvfb", "xdotool"):
        info[pkg] = output(["dpkg-query", "-W", "-f=${Version}", pkg])
    here = os.path.dirname(os.path.abspath(__file__))
    info["quorvelan"] = output(["git", "-C", here, "describe", "--always", "--dirty"])
    return info


def main(argv):
    args = parse_args(argv)
    # Ctrl+C, a hang-up or kill: the same orderly unwinding, which a second
    # signal must not cut short.
    stops = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

    def interrupted(signum, frame):
        for sig in stops:
            signal.signal(sig, signal.SIG_IGN)
        raise KeyboardInterrupt

    for sig in stops:
        signal.signal(sig, interrupted)
    stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
    logpath = os.path.join(args.build_dir, f"gui-peers-{stamp}.log")
    logdir = os.path.join(args.build_dir, f"gui-peers-{stamp}")
    results = []
    stack = contextlib.ExitStack()
    try:
        check_machine(args)
        sweep_leftovers()
        accounting = Accounting(args.cpu_source)
        stack.callback(accounting.remove)
        net = Network()
        stack.callback(net.remove)
        os.makedirs(args.build_dir, exist_ok=True)
        logfile = stack.enter_context(open(logpath, "w"))
        header = {"args": vars(args), "cpu_source": accounting.describe(), "versions": versions(),
                  "cpus": os.cpu_count()}
        logfile.write(json.dumps({"start": header}) + "\n")
        log(f"gui-peers: CPU from {accounting.describe()}; raw runs in {logpath}")
        total = len(args.rates) * args.runs * len(args.tools)
        done = 0
        for rate, seconds in zip(args.rates, args.seconds):
            # Tools take turns within each run, so a slow drift of the
            # machine's load falls on both alike.
            for i in range(args.runs):
                for name in args.tools:
                    tool = Quorvelan(args) if name == "quorvelan" else Wireshark(args)
                    label = f"{name}-{rate}-run{i + 1}"
                    done += 1
                    log(f"gui-peers: [{done}/{total}] {name} at {rate}/s for {seconds:g} s, run {i + 1}")
                    try:
                        r = measure_once(tool, net, accounting, args, rate, seconds, logdir, label)
                    except BenchError as e:
                        # One more try: a slow start on a busy machine should not lose the
                        # whole benchmark; a second failure does, with its cause.
                        log(f"gui-peers: {e}; trying once more")
                        logfile.write(json.dumps({"failed": label, "error": str(e)}) + "\n")
                        r = measure_once(tool, net, accounting, args, rate, seconds, logdir,
                                         label + "-again")
                    r["run"] = i + 1
                    results.append(r)
                    logfile.write(json.dumps(r) + "\n")
                    logfile.flush()
                    log(f"gui-peers:   {r['tool_ms_per_1k']:.2f} ms/1k, X {r['x_ms_per_1k']:.2f} ms/1k, "
                        f"quiet {r['quiet_cpu_pct']:.2f} %, hidden {r['hidden_cpu_pct']:.3f} % "
                        f"(X {r['hidden_x_cpu_pct']:.3f} %), received {r['received']} of {r['offered']}, "
                        f"dropped {r['dropped']}, {r['peak_rss_mib']:.0f} MiB")
        text = table(results, args.rates, args.tools, args.runs, accounting.describe())
        print(text)
        logfile.write("\n" + text + "\n")
        log(f"gui-peers: raw runs in {logpath}")
        return 0
    except (BenchError, OSError) as e:
        log(f"gui-peers: {e}")
        status = 1
    except KeyboardInterrupt:
        log("gui-peers: interrupted; cleaning up")
        status = 130
    finally:
        for sig in stops:
            signal.signal(sig, signal.SIG_IGN)
        stack.close()
    if results:
        print("Incomplete: the runs measured before the benchmark stopped")
        print(table(results, args.rates, args.tools, args.runs, accounting.describe()))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
