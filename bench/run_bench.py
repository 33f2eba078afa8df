#!/usr/bin/python3
"""Upload bench: Quillpost.exe against two yardsticks, in one run, on one
pyftpdlib server on 127.0.0.1, each figure the whole process from start to
exit:

  - Quillpost.exe, started like the Send-To shortcut (configuration number
    and file), with the real getsize.exe beside it;
  - wininet_upload.exe (bench/wininet_upload.cpp), a plain uploader on
    WinINet under the same Wine, reading the same INI section;
  - native `curl -T` (large files only).

Cases: a large file in passive and in active mode (--size MiB, default 256),
and a 100 KiB file to the clipboard (median of --small-runs, default 5). The
runs of the three programs alternate, so a busy machine slows them alike.
Every upload is checked: the server's copy byte for byte, the clipboard's
address. Prints the table, where the time goes (process start, server
greeting, STOR, 226, process end, from the server's timestamped log), the
goals P1 to P3, the memory figure (peak working set of Quillpost.exe, large
file against 100 KiB), and the server's timeline of commands for the last
small run of each Windows program.

CPU seconds are those of the program's own process (user + system, from
wait4); "wineserver" is the CPU the session's wineserver spent meanwhile,
where every socket call and posted message of a Wine program goes.

The product is the i686 build (build-product/). On a machine that cannot run
32-bit code the bench runs the x86_64 build of QP_BUILD and says so.

    bench/run_bench.py [--size 256] [--runs 3] [--small-runs 5]
                       [--large-only | --small-only] [--programs BUILD]
                       [--before BUILD] [--hash]

--hash runs Quillpost's cases (and the earlier build's) once more against a
second pyftpdlib that offers HASH with SHA-256 (tests/support/ftpd.py: it
reads the stored file when asked), in the same run; the table then has
"+ HASH" rows, and the goals are given for them too.

--programs compares another build (a folder with Quillpost.exe, getsize.exe
and bench/wininet_upload.exe), for instance the one before a change.

Needs tools/testbench --setup first (builds, booted Wine prefix).
"""
import argparse
import hashlib
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
if "QP_BUILD" not in os.environ and os.environ.get("BUILD_DIR"):
    os.environ["QP_BUILD"] = os.path.abspath(os.environ["BUILD_DIR"])
import qptest  # noqa: E402

MIB = 1024 * 1024
WWW = "www.example.com"
SMALL = 100 * 1024


def runs_32bit():
    try:
        return subprocess.run(["/lib/ld-linux.so.2", "--version"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def programs(folder=None):
    """(folder of Quillpost.exe and getsize.exe, wininet_upload.exe; note)."""
    if folder:
        folder = os.path.abspath(folder)
        return folder, os.path.join(folder, "bench", "wininet_upload.exe"), "build in %s" % folder
    if runs_32bit():
        d = os.path.join(ROOT, "build-product")
        return d, os.path.join(d, "bench", "wininet_upload.exe"), "i686 product build (build-product/)"
    d = qptest.BUILD
    return d, os.path.join(d, "bench", "wininet_upload.exe"), \
        "x86_64 build (%s): this machine cannot run 32-bit code" % d


def md5_file(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def make_file(path, size, seed):
    block = hashlib.sha256(str(seed).encode()).digest() * 4096
    block = bytes((b + i) & 0xFF for i, b in enumerate(block[:131071]))
    with open(path, "wb") as f:
        left = size
        while left > 0:
            f.write(block[:min(left, len(block))])
            left -= len(block)
    return path


def cpu_ticks(pid):
    """utime + stime of a live process, in seconds (0 when it is gone)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except OSError:
        return 0.0


class Result:
    def __init__(self, secs, cpu, server_cpu, peak_kib, t0, t1):
        self.secs, self.cpu, self.server_cpu, self.peak_kib = secs, cpu, server_cpu, peak_kib
        self.t0, self.t1 = t0, t1  # Unix time of the start and the end
        self.phases = None


def timed(argv, env, cwd, wineserver_pid=None, limit=600):
    """Runs argv to its end: wall seconds, own CPU seconds, wineserver CPU
    seconds and peak resident size (KiB) of the process."""
    server_before = cpu_ticks(wineserver_pid) if wineserver_pid else 0.0
    t0 = time.time()
    started = time.monotonic()
    p = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = started + limit
    while True:
        pid, status, usage = os.wait4(p.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            p.kill()
            raise SystemExit("%s did not end within %d s" % (argv, limit))
        time.sleep(0.002)
    secs = time.monotonic() - started
    t1 = time.time()
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise SystemExit("%s ended with %d" % (" ".join(argv), p.returncode))
    server = (cpu_ticks(wineserver_pid) - server_before) if wineserver_pid else 0.0
    return Result(secs, usage.ru_utime + usage.ru_stime, server, usage.ru_maxrss, t0, t1)


class Bench:
    def __init__(self, session, server, work, prog_dir, wininet, before_dir=None, hash_server=None):
        self.s, self.server, self.work = session, server, work
        self.prog = os.path.join(work, "prog")
        self.base = os.path.join(work, "base")
        self.local = os.path.join(work, "local")
        for d in (self.prog, self.base, self.local):
            os.makedirs(d)
        for name in ("Quillpost.exe", "getsize.exe"):
            shutil.copy(os.path.join(prog_dir, name), self.prog)
        shutil.copy(wininet, self.prog)
        # Program folders by column: the product, optionally an earlier build.
        self.folders = {"Quillpost": self.prog, "WinINet": self.prog}
        if before_dir:
            self.folders["before"] = os.path.join(work, "prog-before")
            os.makedirs(self.folders["before"])
            for name in ("Quillpost.exe", "getsize.exe"):
                shutil.copy(os.path.join(before_dir, name), self.folders["before"])
        code, out = session.run(qptest.exe("app_upload_scramble.exe"), [server.password], timeout=60)
        if code != 0:
            raise SystemExit("password scrambling failed")
        common = {"ServerName": "127.0.0.1", "ServerPort": str(server.port), "Username": server.user,
                  "Password": out.decode("cp1252"), "ServerDirectory": "", "ServerWWWName": WWW,
                  "ServerWWWDirectory": "/files/", "UseClipboardFunction": "1", "Ask": "0",
                  "DirSel": "0", "DelOld": "0", "DelClick": "0"}
        sets = {"Set1": dict(common, PassiveMode="1"), "Set2": dict(common, PassiveMode="0")}
        if hash_server:
            # Sets 3 and 4: the same against the server that offers HASH.
            hashed = dict(common, ServerPort=str(hash_server.port))
            sets.update(Set3=dict(hashed, PassiveMode="1"), Set4=dict(hashed, PassiveMode="0"))
        qptest.write_ini(os.path.join(self.base, "Quillpost.ini"), sets)
        self.wineserver = session.wineserver.pid

    def windows_program(self, who, config, path):
        name = "wininet_upload.exe" if who == "WinINet" else "Quillpost.exe"
        argv = [qptest.WINE_RUN, os.path.join(self.folders[who], name), config, self.s.winpath(path)]
        return timed(argv, self.s.env, self.base, self.wineserver)

    def curl(self, path, passive):
        url = "ftp://127.0.0.1:%d/%s" % (self.server.port, os.path.basename(path))
        argv = ["curl", "-s", "-S", "-T", path, "--user", "%s:%s" % (self.server.user, self.server.password),
                url] + (["--ftp-pasv"] if passive else ["--ftp-port", "127.0.0.1"])
        return timed(argv, None, self.work)

    def upload_window_gone(self):
        """No getsize.exe of this session runs any more (it ends by itself
        once the file is complete on the server)."""
        key = ("WINEPREFIX=" + self.s.prefix).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if b"getsize.exe" not in f.read():
                        continue
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if key in f.read().split(b"\0"):
                        return False
            except OSError:
                continue
        return True

    def settle(self):
        qptest.wait_until(self.upload_window_gone, 60, "the end of getsize.exe", interval=0.1)

    def check_copy(self, path, want, server=None):
        stored = os.path.join((server or self.server).root, os.path.basename(path))
        if md5_file(stored) != want:
            raise SystemExit("the server's copy of %s differs" % os.path.basename(path))
        os.remove(stored)

    def check_clipboard(self, path):
        want = ("http://%s/files/%s" % (WWW, os.path.basename(path))).encode()
        got = qptest.wait_until(self.s.clipboard, 10, "the clipboard text")
        if got != want:
            raise SystemExit("clipboard holds %r, not %r" % (got, want))


def spread(values, fmt):
    values = sorted(values)
    med = statistics.median(values)
    if len(values) == 1:
        return fmt % med
    return (fmt + " (" + fmt + "–" + fmt + ")") % (med, values[0], values[-1])


def phases(log_path, r):
    """ms from the start of run r to the server's greeting, to STOR, to the
    226 after it, and to the end of the process."""
    greeting = stor = done = None
    with open(log_path, "rb") as f:
        for raw in f.read().decode("cp1252", "replace").splitlines():
            m = re.match(r"^(\d+\.\d+) .*?(<-|->) (\S+)", raw)
            if not m or not r.t0 <= float(m.group(1)) <= r.t1:
                continue
            t = (float(m.group(1)) - r.t0) * 1000
            if m.group(2) == "->" and m.group(3) == "220" and greeting is None:
                greeting = t
            elif m.group(2) == "<-" and m.group(3) == "STOR":
                stor, done = t, None
            elif m.group(2) == "->" and m.group(3) == "226" and stor is not None and done is None:
                done = t
    if None in (greeting, stor, done):
        return None
    return greeting, stor, done, (r.t1 - r.t0) * 1000


def timeline(log_path, since, until):
    """Server log lines (commands and replies) with ms since `since`."""
    rows = []
    with open(log_path, "rb") as f:
        for raw in f.read().decode("cp1252", "replace").splitlines():
            m = re.match(r"^(\d+\.\d+) .*?(<-|->) (.*)$", raw)
            if not m:
                continue
            t = float(m.group(1))
            if since <= t <= until:
                rows.append("%7.1f ms  %s %s" % ((t - since) * 1000, m.group(2), m.group(3)[:60]))
    return rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=256, help="large file in MiB")
    ap.add_argument("--runs", type=int, default=3, help="runs per large case and program (median)")
    ap.add_argument("--small-runs", type=int, default=5, help="runs of the 100 KiB case (median)")
    ap.add_argument("--large-only", action="store_true", help="skip the 100 KiB case (no P2)")
    ap.add_argument("--small-only", action="store_true", help="only the 100 KiB case (P2)")
    ap.add_argument("--programs", help="another build folder (Quillpost.exe, getsize.exe, bench/)")
    ap.add_argument("--before", help="an earlier build folder, run as one more column")
    ap.add_argument("--hash", action="store_true", help="the cases once more against a server offering HASH")
    a = ap.parse_args()

    prog_dir, wininet, note = programs(a.programs)
    work = tempfile.mkdtemp(prefix="qp-bench-")
    root = os.path.join(work, "root")
    os.makedirs(root)
    hash_root = os.path.join(work, "hash-root")
    os.makedirs(hash_root)
    big = make_file(os.path.join(work, "big.bin"), a.size * MIB, seed=7)
    big_md5 = md5_file(big)
    rows = {}
    try:
        with qptest.Session("bench") as session, \
                qptest.PyFtpd(root, timeline=True) as server, \
                qptest.PyFtpd(hash_root, timeline=True, hash="SHA-256*") as hash_server:
            b = Bench(session, server, work, prog_dir, wininet, a.before, hash_server if a.hash else None)
            windows = [w for w in ("Quillpost", "before", "WinINet") if w in b.folders]
            ours = [w for w in windows if w != "WinINet"]
            # (suffix of the case, server, configurations passive/active, programs)
            servers = [("", server, ("1", "2"), windows + ["curl"])]
            if a.hash:
                servers.append((HASHED, hash_server, ("3", "4"), ours))
            print("programs: %s" % note + ("; before: %s" % a.before if a.before else ""))
            print("machine: %s, %d cores, %s; load %s" % (
                os.uname().machine, os.cpu_count(), cpu_model(), " ".join(map(str, os.getloadavg()))))
            print("server: pyftpdlib on 127.0.0.1:%d; large file %d MiB, small file 100 KiB" %
                  (server.port, a.size))
            for passive in (() if a.small_only else (True, False)):
                for _ in range(a.runs):
                    for suffix, srv, configs, programs_ in servers:
                        mode, config = ("passive", configs[0]) if passive else ("active", configs[1])
                        for who in programs_:
                            if who == "curl":
                                r = b.curl(big, passive)
                            else:
                                r = b.windows_program(who, config, big)
                                b.settle()
                            b.check_copy(big, big_md5, srv)
                            r.phases = phases(srv.log, r)
                            rows.setdefault((mode + suffix, who), []).append(r)
            lines = {}
            for i in range(0 if a.large_only else a.small_runs):
                for suffix, srv, configs, programs_ in servers:
                    for who in (w for w in programs_ if w != "curl"):
                        small = make_file(os.path.join(b.local, "small-%s-%d.bin" % (who.lower(), i)), SMALL, i)
                        since = time.time()
                        r = b.windows_program(who, configs[0], small)
                        until = time.time()
                        b.check_clipboard(small)
                        b.settle()
                        b.check_copy(small, md5_file(small), srv)
                        r.phases = phases(srv.log, r)
                        rows.setdefault(("small" + suffix, who), []).append(r)
                        lines[LABELS[who] + suffix] = timeline(srv.log, since, until)
                        lines[LABELS[who] + suffix].append("%7.1f ms  process end" % ((until - since) * 1000))
        report(a, rows, lines)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "?"


HASHED = " + HASH"
LABELS = {"Quillpost": "Quillpost", "before": "Quillpost before", "WinINet": "WinINet uploader",
          "curl": "native curl -T"}


def report(a, rows, lines):
    def rate(r):
        return a.size / r.secs

    def med(key, f):
        return statistics.median(f(r) for r in rows[key])

    def line(title, case, f, fmt, unit="", who_list=None):
        cells = [spread([f(r) for r in rows[(case, w)]], fmt) + unit if (case, w) in rows else ""
                 for w in who_list or who_all]
        print("| %s | %s |" % (title, " | ".join(cells)))

    who_all = [w for w in ("Quillpost", "before", "WinINet", "curl") if any(k[1] == w for k in rows)]
    ours = [w for w in ("Quillpost", "before") if w in who_all]
    large = ("passive", "Quillpost") in rows
    small = ("small", "Quillpost") in rows
    suffixes = [""] + ([HASHED] if any(k[0].endswith(HASHED) for k in rows) else [])
    modes = [m + x for x in suffixes for m in ("passive", "active")] if large else []
    print()
    print("| case | %s |" % " | ".join(LABELS[w] for w in who_all))
    print("|---|%s" % ("---|" * len(who_all)))
    for mode in modes:
        line("%d MiB, %s" % (a.size, mode), mode, rate, "%.0f", " MiB/s")
    for x in suffixes if small else ():
        line("100 KiB to the clipboard (median of %d)%s" % (a.small_runs, x), "small" + x,
             lambda r: r.secs * 1000, "%.0f", " ms")
    for mode in modes:
        line("CPU seconds, %d MiB %s" % (a.size, mode), mode, lambda r: r.cpu, "%.2f")
    for mode in modes:
        line("wineserver CPU s, %d MiB %s" % (a.size, mode), mode, lambda r: r.server_cpu, "%.2f")
    for x in suffixes if small else ():
        line("CPU seconds, 100 KiB%s" % x, "small" + x, lambda r: r.cpu, "%.2f")

    print()
    print("Where the time goes (medians of each step, ms): process start to the server's greeting,")
    print("greeting to STOR, STOR to 226 (the data), 226 to the end of the process:")
    print("| case | program | start→greeting | →STOR | →226 | →end | data MiB/s |")
    print("|---|---|---|---|---|---|---|")
    for case in modes + ["small" + x for x in suffixes]:
        for who in who_all:
            got = [r.phases for r in rows.get((case, who), []) if r.phases]
            if not got:
                continue
            steps = [statistics.median(x[0] for x in got)]
            steps += [statistics.median(x[i] - x[i - 1] for x in got) for i in (1, 2, 3)]
            size_mib = a.size if not case.startswith("small") else SMALL / MIB
            print("| %s | %s | %.0f | %.0f | %.0f | %.0f | %.0f |" % (
                case.replace("small", "100 KiB"), LABELS[who], steps[0], steps[1], steps[2],
                steps[3], size_mib / max(steps[2], 0.001) * 1000))
    for who in who_all:
        got = [r.phases for r in rows.get(("small", who), []) if r.phases]
        if got:
            print("100 KiB runs of %s (greeting, STOR, 226, end): %s" % (
                LABELS[who], "  ".join("%.0f/%.0f/%.0f/%.0f" % p for p in got)))
    print()
    for who in ours:
        for mode in modes:
            plain = mode.replace(HASHED, "")
            p1 = med((mode, who), rate) / med((plain, "curl"), rate)
            print("P1 %-14s  %s / curl speed  %.2f  (goal >= 0.60)  %s" %
                  (mode, LABELS[who], p1, "met" if p1 >= 0.6 else "NOT met"))
            if mode != plain:
                cost = 1 - p1 / (med((plain, who), rate) / med((plain, "curl"), rate))
                print("   the hash costs %.0f %% of P1 (goal <= 10 %%)  %s" %
                      (cost * 100, "met" if cost <= 0.1 else "NOT met"))
        for x in suffixes if small else ():
            p2 = med(("small" + x, who), lambda r: r.secs) / med(("small", "WinINet"), lambda r: r.secs)
            print("P2%-9s %s / WinINet time, 100 KiB  %.2f  (goal <= 1.25)  %s" %
                  (x, LABELS[who], p2, "met" if p2 <= 1.25 else "NOT met"))
        for mode in ("passive", "active") if large else ():
            p3 = med((mode, who), lambda r: r.cpu) / med((mode, "curl"), lambda r: r.cpu)
            print("P3 %-7s  %s / curl CPU  %.1f  (goal <= 2.0)  %s" %
                  (mode, LABELS[who], p3, "met" if p3 <= 2.0 else "NOT met"))
        peak_big = max([r.peak_kib for m in ("passive", "active") for r in rows.get((m, who), [])] or [0]) / 1024
        peak_small = max([r.peak_kib for r in rows.get(("small", who), [])] or [0]) / 1024
        if large and small:
            grow = peak_big - peak_small
            print("memory      peak working set of %s: %.1f MB (%d MiB) vs %.1f MB (100 KiB): "
                  "%+.1f MB  (goal <= 8)  %s" % (LABELS[who], peak_big, a.size, peak_small, grow,
                                                 "met" if grow <= 8 else "NOT met"))
        else:
            print("memory      peak working set of %s: %.1f MB" % (LABELS[who], max(peak_big, peak_small)))
    for who, rows_ in lines.items():
        print()
        print("server timeline, last 100 KiB run of %s (ms since the process start):" % who)
        for line in rows_:
            print("  " + line)


if __name__ == "__main__":
    main()
