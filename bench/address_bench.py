#!/usr/bin/python3
"""Address check bench: what CheckAddress=1 adds to an upload run on
loopback. Quillpost.exe (with the real getsize.exe beside it) uploads N
files of 100 KiB to pyftpdlib on 127.0.0.1 while Python's http.server
serves the FTP server's folder; runs with the check off and on alternate,
so a busy machine slows both alike. Every run is checked: the clipboard
holds the N addresses, and with the check on the web server saw one HEAD
per file.

Figures, as medians with their range: the whole process with the check off
and on, the difference per file; from the servers' timestamps, the time
from each file's 226 to its HEAD at the web server (the check's start on its
thread and WinHTTP's connection), and the time from the last 226 to the end
of the process (where the run collects the verdicts).

    bench/address_bench.py [--files 1,10] [--runs 7]

Needs tools/testbench --setup first (builds, booted Wine prefix). Runs the
i686 product (build-product/), or the x86_64 build where 32-bit code cannot
run.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run_bench import cpu_model, make_file, programs, qptest, spread, timed  # noqa: E402
WEBD = os.path.join(os.path.dirname(HERE), "tests", "support", "webd.py")

SMALL = 100 * 1024


def replies_226(log_path, since, until):
    """Unix times of the FTP server's 226 replies within [since, until]."""
    times = []
    with open(log_path, "rb") as f:
        for raw in f.read().decode("cp1252", "replace").splitlines():
            m = re.match(r"^(\d+\.\d+) .*?-> 226", raw)
            if m and since <= float(m.group(1)) <= until:
                times.append(float(m.group(1)))
    return times


def upload_window_gone(session):
    """No getsize.exe of this session runs any more."""
    key = ("WINEPREFIX=" + session.prefix).encode()
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


class WebProcess:
    """tests/support/webd.py in a process of its own: the bench's timing
    loop would otherwise share an interpreter with the web server."""

    def __init__(self, root, log):
        self.port = qptest.free_port()
        self.log = log
        self.proc = subprocess.Popen([qptest.PYTHON, WEBD, "--root", root, "--port", str(self.port)],
                                     stdin=subprocess.DEVNULL, stdout=open(log, "wb"), stderr=subprocess.DEVNULL)

    def __enter__(self):
        qptest.wait_port(self.port)
        return self

    def __exit__(self, *exc):
        self.proc.kill()
        self.proc.wait(5)
        return False

    def heads(self, since, until):
        """Unix times of the requests within [since, until]."""
        with open(self.log, "rb") as f:
            times = [float(line.split(b" ", 1)[0]) for line in f.read().splitlines() if line]
        return [t for t in times if since <= t <= until]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", default="1,10", help="files per run, comma-separated")
    ap.add_argument("--runs", type=int, default=7, help="runs per case and setting (median)")
    a = ap.parse_args()
    counts = [int(n) for n in a.files.split(",")]

    prog_dir, _wininet, note = programs()
    work = tempfile.mkdtemp(prefix="qp-addr-bench-")
    root = os.path.join(work, "root")
    prog, base, local = (os.path.join(work, d) for d in ("prog", "base", "local"))
    for d in (root, prog, base, local):
        os.makedirs(d)
    for name in ("Quillpost.exe", "getsize.exe"):
        shutil.copy(os.path.join(prog_dir, name), prog)
    try:
        with qptest.Session("addr-bench") as s, qptest.PyFtpd(root, timeline=True) as ftpd, \
                WebProcess(root, os.path.join(work, "web.log")) as web:
            code, pw = s.run(qptest.exe("app_upload_scramble.exe"), [ftpd.password], timeout=60)
            if code != 0:
                raise SystemExit("password scrambling failed")
            common = {"ServerName": "127.0.0.1", "ServerPort": str(ftpd.port), "Username": ftpd.user,
                      "Password": pw.decode("cp1252"), "ServerDirectory": "",
                      "ServerWWWName": "127.0.0.1:%d" % web.port, "ServerWWWDirectory": "",
                      "PassiveMode": "1", "UseClipboardFunction": "1", "Ask": "0", "DirSel": "0",
                      "DelOld": "0", "DelClick": "0"}
            qptest.write_ini(os.path.join(base, "Quillpost.ini"),
                             {"Set1": dict(common, CheckAddress="0"), "Set2": dict(common, CheckAddress="1")})
            print("programs: %s" % note)
            print("machine: %s, %d cores, %s; load %s" % (
                os.uname().machine, os.cpu_count(), cpu_model(), " ".join(map(str, os.getloadavg()))))
            print("servers: pyftpdlib on 127.0.0.1:%d, http.server on 127.0.0.1:%d; files of 100 KiB" %
                  (ftpd.port, web.port))
            results = {}
            serial = 0
            for n in counts:
                for _ in range(a.runs):
                    for check in (0, 1):
                        serial += 1
                        paths = [make_file(os.path.join(local, "f%d-%d.bin" % (serial, i)), SMALL, serial * 100 + i)
                                 for i in range(n)]
                        argv = [qptest.WINE_RUN, os.path.join(prog, "Quillpost.exe"), str(check + 1)] + \
                            [s.winpath(p) for p in paths]
                        r = timed(argv, s.env, base, s.wineserver.pid)
                        want = "\r\n".join("http://127.0.0.1:%d/%s" % (web.port, os.path.basename(p))
                                           for p in paths).encode()
                        got = qptest.wait_until(s.clipboard, 10, "the clipboard text")
                        if got != want:
                            raise SystemExit("clipboard holds %r, not %r" % (got, want))
                        # The web server writes its log every 50 ms.
                        if check:
                            qptest.wait_until(lambda: len(web.heads(r.t0, r.t1)) >= n, 5, "the web server's log")
                        heads = web.heads(r.t0, r.t1)
                        if len(heads) != n * check:
                            raise SystemExit("the web server saw %d requests, not %d" % (len(heads), n * check))
                        done = replies_226(ftpd.log, r.t0, r.t1)
                        if len(done) != n:
                            raise SystemExit("%d replies 226 for %d files" % (len(done), n))
                        row = results.setdefault((n, check), {"secs": [], "start": [], "end": []})
                        row["secs"].append(r.secs)
                        row["end"].append((r.t1 - done[-1]) * 1000)
                        row["start"] += [(h - d) * 1000 for h, d in zip(heads, done)]
                        # getsize.exe ends by itself once the file is complete;
                        # the next run must not compete with it.
                        qptest.wait_until(lambda: upload_window_gone(s), 60, "the end of getsize.exe", 0.1)
                        for p in paths:
                            os.remove(p)
                            os.remove(os.path.join(root, os.path.basename(p)))
            report(counts, results)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def report(counts, results):
    print()
    print("| files | check off | check on | added per file | 226 → HEAD | last 226 → end, off | on |")
    print("|---|---|---|---|---|---|---|")
    for n in counts:
        off, on = results[(n, 0)], results[(n, 1)]
        added = (statistics.median(on["secs"]) - statistics.median(off["secs"])) * 1000 / n
        print("| %d | %s ms | %s ms | %.0f ms | %s ms | %s ms | %s ms |" % (
            n, spread([x * 1000 for x in off["secs"]], "%.0f"), spread([x * 1000 for x in on["secs"]], "%.0f"),
            added, spread(on["start"], "%.1f"), spread(off["end"], "%.0f"), spread(on["end"], "%.0f")))


if __name__ == "__main__":
    main()
