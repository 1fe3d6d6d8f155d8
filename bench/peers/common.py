"""What every part of bench/gui-peers uses: its constants, its error, and
short helpers for commands, /proc and ending processes."""

import contextlib
import os
import signal
import subprocess
import sys
import time

DATAGRAM_BYTES = 64
PREFIX = "qvgp"  # namespaces, links and control groups of this benchmark
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
