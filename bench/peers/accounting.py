"""Which processes belong to a tool, and their CPU time and memory."""

import contextlib
import glob
import os
import re
import subprocess

from peers.common import PREFIX, BenchError, end_processes, log, pid_alive, read_text

CGROUP_V1 = "/sys/fs/cgroup/cpuacct"
CGROUP_V2 = ("/sys/fs/cgroup", "/sys/fs/cgroup/unified")


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

def remove_cgroup_tree(parent):
    """Ends whatever still runs in the groups under `parent`, then removes them."""
    for procs in glob.glob(os.path.join(parent, "*", "cgroup.procs")):
        end_processes(lambda f=procs: [int(p) for p in read_text(f).split()], [], "leftovers")
        with contextlib.suppress(OSError):
            os.rmdir(os.path.dirname(procs))
    with contextlib.suppress(OSError):
        os.rmdir(parent)
