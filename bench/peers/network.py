"""The two network namespaces, the flood between them, and the leftovers of
an earlier run."""

import glob
import os
import re
import shutil
import subprocess
import tempfile

from peers.accounting import CGROUP_V1, CGROUP_V2, remove_cgroup_tree
from peers.common import DATAGRAM_BYTES, PREFIX, BenchError, end_processes, pid_alive, run


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

    def flood(self, program, rate, seconds, numbered=False):
        """The paced flood of `program` (bench_flood) from the peer namespace to
        the monitored address; returns how many datagrams it sent. Numbered,
        each payload starts with its datagram's number."""
        sender = subprocess.Popen(
            ["ip", "netns", "exec", self.peer, program, self.local_address,
             str(DATAGRAM_BYTES), str(rate), str(seconds)] + (["numbered"] if numbered else []),
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
        return int(out)

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
