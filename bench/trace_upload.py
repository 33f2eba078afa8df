#!/usr/bin/python3
"""Counts per MiB of a Quillpost.exe upload: the calls that cost under Wine,
from a large upload less a 100 KiB one. Each upload runs under `strace -f -c` (system calls of the process and
its threads), one under WINEDEBUG=+msg (posted window messages). The
upload-window program is left out of the folder for both runs, so only
Quillpost's own calls are counted (its start then fails quietly).

    bench/trace_upload.py [--size MiB] [--active]

Columns: sendmsg = socket sends; read = file reads plus wineserver replies;
write+writev = requests to the wineserver (and little else); PostMessage =
messages Quillpost posted, to itself or its other thread.
"""
import argparse
import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
sys.path.insert(0, HERE)
import qptest  # noqa: E402
import run_bench  # noqa: E402


def count_calls(b, s, config, path, work):
    argv = [qptest.WINE_RUN, os.path.join(b.prog, "Quillpost.exe"), config, s.winpath(path)]
    counts = os.path.join(work, "strace.txt")
    subprocess.run(["strace", "-f", "-c", "-o", counts] + argv, cwd=b.base, env=s.env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    b.check_copy(path, run_bench.md5_file(path))
    calls = collections.Counter()
    with open(counts) as f:
        for line in f:
            m = re.match(r"^\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)\s+(?:\d+\s+)?(\w+)$", line)
            if m:
                calls[m.group(2)] += int(m.group(1))
    log = os.path.join(work, "msg.txt")
    with open(log, "wb") as out:
        subprocess.run(argv, cwd=b.base, env=dict(s.env, WINEDEBUG="+msg"), check=True,
                       stdin=subprocess.DEVNULL, stdout=out, stderr=out)
    b.check_copy(path, run_bench.md5_file(path))
    with open(log, "rb") as f:
        posted = sum(1 for line in f if b"NtUserPostMessage" in line)
    return {"sendmsg": calls["sendmsg"], "read": calls["read"],
            "write+writev": calls["write"] + calls["writev"], "PostMessage": posted}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=64, help="file size in MiB")
    ap.add_argument("--active", action="store_true", help="active mode (default passive)")
    ap.add_argument("--programs", help="another build folder (Quillpost.exe, getsize.exe, bench/)")
    a = ap.parse_args()
    prog_dir, wininet, note = run_bench.programs(a.programs)
    work = tempfile.mkdtemp(prefix="qp-trace-")
    root = os.path.join(work, "root")
    os.makedirs(root)
    try:
        with qptest.Session("trace") as s, qptest.PyFtpd(root) as server:
            b = run_bench.Bench(s, server, work, prog_dir, wininet)
            os.remove(os.path.join(b.prog, "getsize.exe"))
            small = run_bench.make_file(os.path.join(b.local, "small.bin"), 100 * 1024, 4)
            big = run_bench.make_file(os.path.join(b.local, "big.bin"), a.size * run_bench.MIB, 3)
            config = "2" if a.active else "1"
            seen = {p: count_calls(b, s, config, p, work) for p in (small, big)}
        print("programs: %s; %d MiB against 100 KiB, %s mode" % (note, a.size,
                                                             "active" if a.active else "passive"))
        print("| call | 100 KiB run | %d MiB run | per MiB of data |" % a.size)
        print("|---|---|---|---|")
        for name in seen[big]:
            n0, n1 = seen[small][name], seen[big][name]
            print("| %s | %d | %d | %.1f |" % (name, n0, n1, (n1 - n0) / (a.size - 0.1)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
