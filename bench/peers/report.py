"""The table: each rate and tool's median figures, and quorvelan's against
Wireshark's."""

import statistics

from peers.common import DATAGRAM_BYTES, HIDDEN_SECONDS


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, form):
    return "-" if value is None else format(value, form)


def ratio(a, b):
    return a / b if a is not None and b not in (None, 0) else None


def table(results, rates, tools, runs, source, features=False, payload="same"):
    lines = [
        *(["quorvelan kept running (--features): history written, alerts and 最小化到托盘 on, the 连接 "
           "window open; its CPU with the tray's (trayer), dunst's and the session bus's", ""]
          if features else []),
        f"{DATAGRAM_BYTES}-byte UDP datagrams"
        f"{', each payload numbered' if payload == 'numbered' else ', every one alike'}, each tool alone on its own Xvfb; each figure the median "
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
