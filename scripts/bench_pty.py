#!/usr/bin/env python3
"""Helpers for scripts/bench.

  bench_pty.py gen ROOT PORT         write the benchmark gopherhole under ROOT
  bench_pty.py serve ROOT PORTFILE   static gopher server on 127.0.0.1 (raw files)
  bench_pty.py interactive TOLM ROOT REPS
                                     browse the 100,000-line menu under a pty
                                     and print the interactive figures (JSON)
  bench_pty.py report RESULTS CASES INTERACTIVE
                                     the Markdown table and the targets

The static server answers a selector with the file ROOT/raw/<selector> byte
for byte and closes: no rewriting, and it knows when the last byte went out.
"""

import json
import math
import os
import random
import re
import select
import signal
import socket
import statistics
import struct
import sys
import threading
import time

MENU_SIZES = {"menu25": 25, "menu1k": 1000, "menu10k": 10_000,
              "menu100k": 100_000, "menu1m": 1_000_000}
TOPICS = ["gardening", "radio", "old computers", "bread", "poetry", "maps",
          "weather", "chess", "tea", "bicycles", "fungi", "typefaces"]


def menu_line(i, port):
    """One gophermap line, all four fields given, so nothing is filled in."""
    kind = i % 10
    topic = TOPICS[(i * 7) % len(TOPICS)]
    if kind < 6:
        return f"0Notes {i:07d} on {topic}, plain text\t/docs/n{i:07d}.txt\t127.0.0.1\t{port}"
    if kind < 8:
        return f"1Folder {i:07d}: archive of {topic}\t/dir/d{i:07d}/\t127.0.0.1\t{port}"
    if kind == 8:
        return f"iEntry {i:07d} \u2014 {topic} \u00e9t\u00e9 \u2713\t\tnull.host\t1"
    return f"9Binary {i:07d} of {topic}.bin\t/bin/b{i:07d}.bin\t127.0.0.1\t{port}"


def write_menu(root, name, count, port):
    d = os.path.join(root, name)
    os.makedirs(d, exist_ok=True)
    lines = [menu_line(i, port) for i in range(count)]
    with open(os.path.join(d, "gophermap"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
        f.write("\n")
    # The same menu as it travels on the wire, for the static server.
    with open(os.path.join(root, "raw", name), "wb") as f:
        f.write("\r\n".join(lines).encode())
        f.write(b"\r\n.\r\n")


def write_text(path, size, seed):
    rng = random.Random(seed)
    words = ["alpha", "bravo", "gopher", "menu", "selector", "terminal", "line",
             "server", "hole", "phlog", "text", "burrow", "tunnel", "index"]
    out = []
    total = 0
    n = 0
    while total < size:
        n += 1
        line = f"{n:07d} " + " ".join(rng.choice(words) for _ in range(rng.randint(5, 11))) + "\n"
        out.append(line)
        total += len(line)
    data = "".join(out).encode()[:size]
    with open(path, "wb") as f:
        f.write(data)


def write_long_utf8(path, size, seed):
    rng = random.Random(seed)
    words = ["\u017c\u00f3\u0142w", "\u65e5\u672c\u8a9e", "\u03b5\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
             "caf\u00e9", "na\u00efve", "\u2713", "\u0440\u0443\u0441\u0441\u043a\u0438\u0439",
             "gopher", "\U0001f600", "\u00fcber"]
    data = bytearray()
    while len(data) < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(600, 1400)))
        data += line.encode() + b"\n"
    # Cut at a line end so that no character is split.
    cut = data.rfind(b"\n", 0, size) + 1
    with open(path, "wb") as f:
        f.write(bytes(data[:cut]))


def gen(root, port):
    os.makedirs(os.path.join(root, "raw"), exist_ok=True)
    for name, count in MENU_SIZES.items():
        write_menu(root, name, count, port)
    write_text(os.path.join(root, "text20m.txt"), 20 << 20, 1)
    write_long_utf8(os.path.join(root, "raw", "longutf8.txt"), 1 << 20, 2)
    block = random.Random(3).randbytes(1 << 20)
    with open(os.path.join(root, "big.bin"), "wb") as f:
        for _ in range(200):
            f.write(block)
    os.link(os.path.join(root, "big.bin"), os.path.join(root, "raw", "big.bin"))


class StaticServer:
    """Answers each connection with one file of ROOT/raw and closes it."""

    def __init__(self, root):
        self.root = os.path.realpath(os.path.join(root, "raw"))
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        self.last_byte = {}  # selector -> monotonic time the last byte was handed over
        self.lock = threading.Lock()

    def handle(self, conn):
        with conn:
            req = b""
            while b"\n" not in req and len(req) < 4096:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                req += chunk
            selector = req.split(b"\n", 1)[0].rstrip(b"\r").decode("utf-8", "replace")
            path = os.path.realpath(os.path.join(self.root, selector.lstrip("/")))
            if not path.startswith(self.root + os.sep) or not os.path.isfile(path):
                conn.sendall(b"3Not found\t\terror.host\t1\r\n.\r\n")
                return
            with open(path, "rb") as f:
                try:
                    conn.sendfile(f)
                except OSError:
                    return
            with self.lock:
                self.last_byte[selector] = time.monotonic()
            try:
                conn.shutdown(socket.SHUT_WR)
                conn.settimeout(5)
                while conn.recv(4096):
                    pass
            except OSError:
                pass

    def serve_forever(self):
        while True:
            conn, _ = self.sock.accept()
            threading.Thread(target=self.handle, args=(conn,), daemon=True).start()


def serve(root, portfile):
    srv = StaticServer(root)
    tmp = portfile + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(srv.port))
    os.rename(tmp, portfile)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    srv.serve_forever()


# ---------------------------------------------------------------- interactive

class Tolm:
    """tolm on the slave side of a fresh 80x24 pty, read through the master."""

    def __init__(self, tolm, url):
        pid, fd = os.forkpty()
        if pid == 0:
            try:
                import fcntl
                import termios
                fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
                env = {"TERM": "xterm-256color", "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                       "HOME": os.environ.get("HOME", "/tmp"), "LANG": "C.UTF-8",
                       "PAGER": "cat"}
                os.execve(tolm, [tolm, url], env)
            finally:
                os._exit(127)
        self.pid = pid
        self.fd = fd
        self.start = time.monotonic()

    def read_some(self, timeout):
        """Bytes available within timeout (b"" if none), and their arrival time."""
        r, _, _ = select.select([self.fd], [], [], timeout)
        if not r:
            return b"", None
        try:
            data = os.read(self.fd, 1 << 16)
        except OSError:
            data = b""
        return data, time.monotonic()

    def blocked_on_input(self):
        try:
            with open(f"/proc/{self.pid}/syscall") as f:
                nr = f.read().split()[0]
        except (OSError, IndexError):
            return False
        # read, poll, ppoll, pselect6, select on x86-64; read, ppoll on arm64
        return nr in ("0", "7", "271", "270", "23", "63", "73")

    def settle(self, deadline=10.0):
        """Everything the program writes until it waits for a key again."""
        out = bytearray()
        end = time.monotonic() + deadline
        quiet = 0
        while time.monotonic() < end:
            data, _ = self.read_some(0.005)
            if data:
                out += data
                quiet = 0
                continue
            if self.blocked_on_input():
                quiet += 1
                if quiet >= 3:
                    return bytes(out)
        raise RuntimeError("tolm did not settle; output so far: %r" % bytes(out[-300:]))

    def send(self, data):
        os.write(self.fd, data)

    def cpu_ticks(self):
        with open(f"/proc/{self.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])  # utime + stime

    def cpu_ns(self):
        with open(f"/proc/{self.pid}/schedstat") as f:
            return int(f.read().split()[0])

    def io(self):
        """Bytes written and write calls so far: all of them go to the terminal."""
        fields = {}
        with open(f"/proc/{self.pid}/io") as f:
            for line in f:
                k, v = line.split(":")
                fields[k] = int(v)
        return fields["wchar"], fields["syscw"]

    def quit(self):
        try:
            self.send(b"q")
            end = time.monotonic() + 5
            while time.monotonic() < end:
                data, _ = self.read_some(0.05)
                pid, _ = os.waitpid(self.pid, os.WNOHANG)
                if pid:
                    break
            else:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
        finally:
            os.close(self.fd)


def first_screen(tolm, url, srv, selector, status_mark, last_row_text):
    """Seconds from the server's last byte to the full first screen."""
    t = Tolm(tolm, url)
    seen = bytearray()
    done_at = None
    end = time.monotonic() + 30
    try:
        while time.monotonic() < end:
            data, at = t.read_some(0.05)
            if data:
                seen += data
                if status_mark in seen and last_row_text in seen:
                    done_at = at
                    break
        if done_at is None:
            raise RuntimeError("no first screen: %r" % bytes(seen[-300:]))
        t.settle()
        with srv.lock:
            last = srv.last_byte.get(selector)
        return done_at - last, done_at - t.start
    finally:
        t.quit()


def caps():
    import curses
    curses.setupterm("xterm-256color", sys.stdout.fileno() if sys.stdout.isatty() else -1)

    def cap(name, *args):
        s = curses.tigetstr(name) or b""
        return curses.tparm(s, *args) if args else s
    return cap


def rows_drawn(out):
    return len(re.findall(rb"(?:Notes|Folder|Entry|Binary) [0-9]{7}", out))


def interactive(tolm, root, reps):
    srv = StaticServer(root)
    threading.Thread(target=srv.serve_forever, daemon=True).start()
    selector = "/menu100k"
    url = f"gopher://127.0.0.1:{srv.port}/1{selector}"
    status_mark = f"%| 127.0.0.1:{srv.port}/1{selector}".encode()
    row22 = menu_line(22, 0).split("\t")[0][1:].encode()
    res = {}

    after_last = []
    from_start = []
    for _ in range(reps):
        a, s = first_screen(tolm, url, srv, selector, status_mark, row22)
        after_last.append(a)
        from_start.append(s)
    res["first_screen_ms"] = statistics.median(after_last) * 1e3
    res["first_screen_max_ms"] = max(after_last) * 1e3
    res["first_screen_runs"] = reps
    res["start_to_screen_ms"] = statistics.median(from_start) * 1e3

    cap = caps()
    clear = cap("clear")
    status_start = cap("sc") + cap("cup", 23, 0)

    def op(key):
        """Bytes tolm wrote (its own count), write calls, and what the
        terminal got with the pty's CR LF translation undone."""
        b0, w0 = t.io()
        t.send(key)
        out = t.settle().replace(b"\r\n", b"\n")
        b1, w1 = t.io()
        return b1 - b0, w1 - w0, out

    t = Tolm(tolm, url)
    try:
        t.settle()
        # To the middle: the search puts item 50,000 on the first row.
        t.send(b"/")
        t.settle()
        t.send(b"0050000\n")
        t.settle()
        for _ in range(15):  # past the half height: from here each move scrolls
            t.send(b"j")
            t.settle()
        moves = [op(b"j") for _ in range(5)]
        nbytes, writes, out = max(moves, key=lambda m: m[0])
        cut = out.rfind(status_start)
        res["move_bytes"] = nbytes
        res["move_writes"] = max(m[1] for m in moves)
        res["move_rows"] = max(rows_drawn(m[2][:m[2].rfind(status_start)]) for m in moves)
        res["move_scrolled"] = all((cap("cup", 22, 0) + cap("ind")) in m[2] for m in moves)
        res["move_clear"] = any(clear in m[2] for m in moves)
        res["status_bytes"] = len(out[cut:]) if cut >= 0 else 0

        res["page_bytes"], res["page_writes"], page = op(b" ")
        res["page_clear"] = clear in page
        res["page_rows"] = rows_drawn(page)

        res["redraw_bytes"], res["redraw_writes"], full = op(b"G")
        res["redraw_rows"] = rows_drawn(full)
        # The longest menu row of the full redraw, with its own sequences:
        # after the status bar, rows are separated by cursor_down.
        body = full[full.find(status_start):].split(cap("rc"), 1)[1]
        res["row_bytes_max"] = max(len(r) for r in body.split(cap("cud1")))
        res["move_allowance"] = sum(len(x) for x in (
            cap("sc"), cap("cup", 22, 0), cap("ind"), cap("rc"), cap("cup", 10, 0),
            cap("smso"), cap("rmso")))
        res["move_bound"] = 3 * res["row_bytes_max"] + res["status_bytes"] + res["move_allowance"]

        # CPU per key over 1,000 one-line moves from the middle.
        t.send(b"N")  # the same search backwards: item 50,000 again
        t.settle()
        ticks0, ns0 = t.cpu_ticks(), t.cpu_ns()
        b0, w0 = t.io()
        for _ in range(20):
            t.send(b"j" * 50)
            t.settle()
        ticks1, ns1 = t.cpu_ticks(), t.cpu_ns()
        b1, w1 = t.io()
        hz = os.sysconf("SC_CLK_TCK")
        res["key_cpu_stat_ms"] = (ticks1 - ticks0) / hz * 1e3 / 1000
        res["key_cpu_ms"] = (ns1 - ns0) / 1e6 / 1000
        res["key_bytes_avg"] = (b1 - b0) / 1000
        res["key_writes_avg"] = (w1 - w0) / 1000
    finally:
        t.quit()
    print(json.dumps(res))

# ---------------------------------------------------------------- report

def load_results(path):
    runs = {}     # (case, client) -> {round: (wall, cpu, rss_kib)}
    failed = {}   # (case, client) -> count of runs left out
    skipped = set()
    wrong = set()  # the checked warm-up gave the wrong output: no figures
    for line in open(path):
        f = line.rstrip("\n").split("\t")
        key = (f[0], f[1])
        if f[2] == "skip":
            skipped.add(key)
            continue
        if f[2] == "bad":
            wrong.add(key)
            continue
        vals = f[3].split()
        wall, cpu, rss, status = float(vals[0]), float(vals[1]), int(vals[2]), int(vals[4])
        if status != 0 or len(vals) > 5:
            failed[key] = failed.get(key, 0) + 1
            continue
        runs.setdefault(key, {})[int(f[2])] = (wall, cpu, rss)
    for key in wrong:
        runs.pop(key, None)
    return runs, failed, skipped, wrong


def paired_ratio(runs, case, a, b):
    """Median over rounds of a's wall time over b's in the same round."""
    ra, rb = runs.get((case, a), {}), runs.get((case, b), {})
    ratios = [ra[r][0] / rb[r][0] for r in ra if r in rb and rb[r][0] > 0]
    return statistics.median(ratios) if ratios else None


def report(results, cases, inter_path):
    import datetime
    import subprocess
    runs, failed, skipped, wrong = load_results(results)
    meta = [line.rstrip("\n").split("\t") for line in open(cases)]
    inter = json.load(open(inter_path))
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        rev = subprocess.run(["git", "-C", here, "describe", "--always", "--dirty"],
                             capture_output=True, text=True).stdout.strip()
    except OSError:
        rev = "?"

    def med(case, client, i):
        r = runs.get((case, client))
        return statistics.median(v[i] for v in r.values()) if r else None

    def peak(case, client):
        r = runs.get((case, client))
        return max(v[2] for v in r.values()) / 1024 if r else None

    def fmt(x, form):
        return "n/a" if x is None else format(x, form)

    mib = 1 << 20
    print(f"nproc: {os.cpu_count()}; date: {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}; "
          f"tolm {rev}; every figure measured by this run")
    print()
    print("| case | served by | client | runs | median wall (ms) | median user+sys (ms) "
          "| peak RSS (MiB) | wall vs curl, same round |")
    print("|---|---|---|---:|---:|---:|---:|---:|")
    for case, label, size, server in meta:
        size_text = f"{int(size) / mib:.2f} MiB" if int(size) >= mib else f"{int(size) / 1024:.1f} KiB"
        for client in ("tolm", "curl", "lynx", "dd", "cloop", "tolmcat", "tolmfile"):
            key = (case, client)
            name = {"dd": "dd bs=1024", "cloop": "read/write loop in C", "tolmcat": "tolm, piped into cat",
                    "tolmfile": "tolm, into a file"}.get(client, client)
            if key in skipped:
                print(f"| {label} ({size_text}) | {server} | {name} | 0 | not run: takes minutes "
                      f"| | | |")
                continue
            if key in wrong:
                print(f"| {label} ({size_text}) | {server} | {name} | 0 | WRONG OUTPUT | | | |")
                continue
            if key not in runs and key not in failed:
                continue
            ratio = paired_ratio(runs, case, client, "curl") if client != "curl" else 1.0
            n = len(runs.get(key, {}))
            bad = f" ({failed[key]} failed)" if key in failed else ""
            print(f"| {label} ({size_text}) | {server} | {name} | {n}{bad} "
                  f"| {fmt(med(case, client, 0) and med(case, client, 0) * 1e3, '.1f')} "
                  f"| {fmt(med(case, client, 1) and med(case, client, 1) * 1e3, '.1f')} "
                  f"| {fmt(peak(case, client), '.1f')} | {fmt(ratio, '.2f')} |")
    print()
    print("Interactive, tolm under an 80x24 pty, TERM=xterm-256color, 100,000-line menu:")
    print(f"- one-line move ('j', scrolling): {inter['move_bytes']} bytes in {inter['move_writes']} write(s), "
          f"{inter['move_rows']} menu rows drawn, scrolled: {inter['move_scrolled']}, clear: {inter['move_clear']}")
    print(f"- one page move (space): {inter['page_bytes']} bytes in {inter['page_writes']} write(s), "
          f"{inter['page_rows']} rows, clear: {inter['page_clear']}")
    print(f"- full redraw ('G'): {inter['redraw_bytes']} bytes in {inter['redraw_writes']} write(s), "
          f"{inter['redraw_rows']} rows")
    print(f"- first full screen after the server's last byte: median {inter['first_screen_ms']:.1f} ms, "
          f"max {inter['first_screen_max_ms']:.1f} ms over {inter['first_screen_runs']} starts "
          f"(start to first screen: {inter['start_to_screen_ms']:.1f} ms)")
    print(f"- CPU per key over 1,000 'j': {inter['key_cpu_ms'] * 1e3:.1f} us from /proc/PID/schedstat "
          f"({inter['key_cpu_stat_ms']:.3f} ms from /proc/PID/stat ticks); "
          f"{inter['key_bytes_avg']:.0f} bytes and {inter['key_writes_avg']:.2f} writes per key")

    targets = []

    def target(text, ok, figure):
        targets.append((text, "n/a" if ok is None else ("met" if ok else "MISSED"), figure))

    r = paired_ratio(runs, "menu25", "tolm", "curl")
    target("25-line menu, start-up to exit <= 0.5 x curl", r is not None and r <= 0.5,
           f"{fmt(r, '.2f')} x curl")
    r = paired_ratio(runs, "menu100k", "tolm", "curl")
    target("100,000-line menu listing <= curl's fetch", r is not None and r <= 1.0, f"{fmt(r, '.2f')} x curl")
    target("100,000-line menu <= 1.12 x curl", r is not None and r <= 1.12, f"{fmt(r, '.2f')} x curl")
    r = paired_ratio(runs, "static100k", "tolm", "curl")
    target("100,000-line menu from the static server <= 1.15 x curl", r is not None and r <= 1.15,
           f"{fmt(r, '.2f')} x curl")
    r = paired_ratio(runs, "menu1m", "tolm", "curl")
    target("1,000,000-line menu <= 1.5 x curl", r is not None and r <= 1.5, f"{fmt(r, '.2f')} x curl")
    r = paired_ratio(runs, "pipe100k", "tolmcat", "tolmfile")
    target("100,000-line listing piped into cat no slower than into a file", r is not None and r <= 1.0,
           f"{fmt(r, '.2f')} x into a file")
    sizes = {c: int(s) for c, _, s, _ in meta}
    rss_figs, rss_ok = [], True
    # Below 100,000 lines the limit is under the bare process's RSS.
    for case in ("menu100k", "menu1m"):
        p = peak(case, "tolm")
        limit = 2.5 * sizes[case] / mib + 2 if case in sizes else None
        if p is None or limit is None or p > limit:
            rss_ok = False
        rss_figs.append(f"{case} {fmt(p, '.1f')}/{fmt(limit, '.1f')}")
    target("menu peak RSS <= 2.5 x menu size + 2 MiB (MiB, measured/limit)", rss_ok, ", ".join(rss_figs))
    # Growth: time above the 25-line menu's (start-up), decade by decade;
    # an exponent of 1 is linear.
    t0 = med("menu25", "tolm", 0)
    exps, lin_ok = [], True
    for a, b in (("menu10k", "menu100k"), ("menu100k", "menu1m")):
        ta, tb = med(a, "tolm", 0), med(b, "tolm", 0)
        if None in (t0, ta, tb) or ta <= t0 or tb <= t0 or a not in sizes or b not in sizes:
            lin_ok = False
            exps.append(f"{a}->{b} n/a")
            continue
        e = math.log10((tb - t0) / (ta - t0)) / math.log10(sizes[b] / sizes[a])
        lin_ok &= e <= 1.15
        exps.append(f"{a}->{b} exponent {e:.2f}")
    per_line = []
    for case, n in (("menu1k", 1e3), ("menu10k", 1e4), ("menu100k", 1e5), ("menu1m", 1e6)):
        t = med(case, "tolm", 0)
        per_line.append(f"{fmt(t and t / n * 1e6, '.2f')}")
    target("menu time grows linearly 1k -> 1M (exponent <= 1.15)", lin_ok,
           "; ".join(exps) + "; us per line 1k/10k/100k/1M: " + "/".join(per_line))
    r = paired_ratio(runs, "text20m", "tolm", "curl")
    target("20 MiB text <= 1.2 x curl", r is not None and r <= 1.2, f"{fmt(r, '.2f')} x curl")
    r = paired_ratio(runs, "big", "tolm", "dd")
    loop = paired_ratio(runs, "big", "tolm", "cloop")
    target("200 MiB binary within 1.1 x dd bs=1024", r is not None and r <= 1.1,
           f"{fmt(r, '.2f')} x dd ({fmt(loop, '.2f')} x the C loop that opens its own connection)")
    p = peak("big", "tolm")
    target("200 MiB binary peak RSS < 3 MiB", p is not None and p < 3, f"{fmt(p, '.2f')} MiB")
    ok = (inter["move_bytes"] <= inter["move_bound"] and inter["move_rows"] <= 3
          and not inter["move_clear"])
    target("one-line move <= 3 menu lines + status bar, no clear", ok,
           f"{inter['move_bytes']} bytes <= {inter['move_bound']} (3 x {inter['row_bytes_max']} row + "
           f"{inter['status_bytes']} status + {inter['move_allowance']} sc/cup/ind/rc/smso/rmso), "
           f"{inter['move_rows']} rows, clear: {inter['move_clear']}")
    target("CPU per key < 0.2 ms", inter["key_cpu_ms"] < 0.2, f"{inter['key_cpu_ms'] * 1e3:.1f} us")
    target("100k menu: first screen <= 50 ms after the last byte", inter["first_screen_ms"] <= 50,
           f"{inter['first_screen_ms']:.1f} ms (median)")
    print()
    print("Targets:")
    for text, verdict, figure in targets:
        print(f"- {verdict}: {text}: {figure}")


def main():
    cmd = sys.argv[1] if len(sys.argv) > 1 else ""
    if cmd == "gen":
        gen(sys.argv[2], int(sys.argv[3]))
    elif cmd == "serve":
        serve(sys.argv[2], sys.argv[3])
    elif cmd == "interactive":
        interactive(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif cmd == "report":
        report(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
