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
import json
import os
import shutil
import signal
import subprocess
import sys

from peers.accounting import Accounting
from peers.common import BenchError, log, read_text
from peers.network import Network, sweep_leftovers
from peers.report import table
from peers.session import measure_once
from peers.tools import Quorvelan, Wireshark


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
    p.add_argument("--features", action="store_true",
                   help="quorvelan kept running on a desktop: a tray (trayer), a session bus with a "
                        "notification daemon (dunst), alerts and 最小化到托盘 on, its history written, "
                        "the 连接 window open; the tray's, dunst's and the bus's CPU counted as "
                        "quorvelan's")
    p.add_argument("--payload", default="same", choices=("same", "numbered"),
                   help="same: every datagram alike (the default, as earlier results); numbered: "
                        "each payload starts with its datagram's number, so that no two rows of "
                        "quorvelan's list read alike")
    p.add_argument("--quorvelan-env", action="append", default=[], metavar="NAME=VALUE",
                   help="an environment variable for quorvelan only, e.g. QT_NO_FAST_SCROLL=1 or "
                        "QT_XCB_NO_MITSHM=1")
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
    if any("=" not in e or e.startswith("=") for e in a.quorvelan_env):
        p.error("--quorvelan-env takes NAME=VALUE")
    a.quorvelan_env = dict(e.split("=", 1) for e in a.quorvelan_env)
    a.quorvelan = os.path.join(a.build_dir, "app", "quorvelan")
    a.flood = os.path.join(a.build_dir, "bench", "bench_flood")
    return a


def check_machine(args):
    if os.geteuid() != 0:
        raise BenchError("checking the machine: needs root (network namespaces, capture, "
                         "control groups)")
    needed = ["ip", "Xvfb", "xdotool"] + (["wireshark", "dumpcap"] if "Wireshark" in args.tools else [])
    if args.features and "quorvelan" in args.tools:
        needed += ["dbus-daemon", "dbus-send", "dunst", "dunstctl", "trayer"]
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
    for pkg in ("wireshark-qt", "xvfb", "xdotool", "trayer", "dunst", "dbus-daemon"):
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
        if args.features:
            log("gui-peers: quorvelan kept running: tray, notification daemon, alerts, history, "
                "连接 open")
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
        text = table(results, args.rates, args.tools, args.runs, accounting.describe(), args.features,
                     args.payload)
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
        print(table(results, args.rates, args.tools, args.runs, accounting.describe(), args.features,
                     args.payload))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
