"""quorvelan and Wireshark: how each starts its capture, and how it is
stopped and tells what it received."""

import glob
import os
import re
import struct
import subprocess

from peers.common import BenchError, end_processes, read_text, wait_for
from peers.desktop import TRAY_ICON_MOST


class Tool:
    name = ""
    passes_dialogs = False  # may a window beside the main one be closed with Escape?
    features = False  # kept running on a desktop: tray, alerts, history, 连接 open

    def __init__(self, args):
        self.args = args

    def argv(self, net):
        raise NotImplementedError

    def extra_env(self):
        return {}

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

    # From the bottom of the context menu (the main window's, opened with the
    # Menu key) up through 设置, 提醒, 用量 and 查找 to 连接...: the order of
    # CMonitorDlg::OnInitDialog. From the bottom, because an entry above it
    # (打开捕获文件) is disabled while capturing.
    UP_TO_CONVERSATIONS = 5
    CONVERSATIONS = "连接"

    def __init__(self, args):
        super().__init__(args)
        self.features = args.features

    def argv(self, net):
        return [self.args.quorvelan]

    def extra_env(self):
        return dict(self.args.quorvelan_env)

    def start_capture(self, s):
        step = "starting quorvelan's capture with the keyboard"
        wid = s.main_window()
        s.main = wid
        s.display.keys(wid, *["shift+Tab"] * self.BACK_TO_ADDRESSES, step=step)
        # The list selects the item whose text is typed.
        s.display.type(wid, s.net.local_address, step=step)
        # Back from the list: 停止 is disabled until a capture runs, so 开始.
        s.display.keys(wid, "shift+Tab", "space", step=step)
        s.wait_capturing(15, "quorvelan: no packet socket after 本机地址 and 开始 were chosen")
        if self.features:
            self.open_conversations(s)

    def open_conversations(self, s):
        """The 连接 window, chosen from the main window's context menu as a
        person would, and kept open beside it."""
        step = "opening 连接 from quorvelan's context menu"
        before = {w for w, _, _ in s.display.windows(s.proc.pid)}
        s.display.keys(s.main, "Menu", step=step)
        wait_for(lambda: [w for w, area, _ in s.display.windows(s.proc.pid)
                          if w not in before and area > TRAY_ICON_MOST], 10,
                 f"{step}: no menu", interval=0.1)
        # The menu has the keyboard; xdotool types to whatever has it.
        s.display.xdotool("key", "--delay", "40", *["Up"] * self.UP_TO_CONVERSATIONS, "Return",
                          step=step)

        def opened():
            return [w for w, _, name in s.display.windows(s.proc.pid)
                    if w not in before and name == self.CONVERSATIONS]
        s.kept.update(wait_for(opened, 10, f"{step}: no window named {self.CONVERSATIONS}",
                               interval=0.1))

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
