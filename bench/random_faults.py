#!/usr/bin/python3
"""Quillpost.exe against a server that misbehaves at random.

Each run starts the real Quillpost.exe (with the real getsize.exe beside it)
like the Send-To shortcut, with three files, against the scripted server of
tests/support/scriptftpd.py in its random mode (seeded per run: a 421,
a garbled reply, a dropped connection, a command never answered, or one of
the command's own faults). Runs alternate between passive and active mode.
Every run ends in one of:

  success          no "Fehler:" box, the clipboard holds the address of every
                   file, and the server holds each of them byte for byte
  honest failure   a "Fehler:" box, and no address stands for a file the
                   server does not hold byte for byte
  false success    no "Fehler:" box, but an address is missing or stands for a
                   file the server does not hold whole
  hang             the program has not ended within --limit seconds
  crash            the program ended with an exit code other than 0, or a
                   runtime error box came

    bench/random_faults.py [--runs 40] [--seed 1] [--rate 0.15] [--limit 300]
                           [--programs FOLDER] [--label NAME]

--programs runs another build (a folder with Quillpost.exe and getsize.exe),
for instance the one before a change. Needs tools/testbench --setup first
(the test build's scrambling tool and winctl.exe, a booted Wine prefix).
"""
import argparse
import os
import shutil
import signal
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
from scriptftpd import ScriptedFtpd  # noqa: E402

WWW = "www.example.com"
OUTCOMES = ["success", "honest failure", "false success", "hang", "crash"]
# Sizes around the server's own thresholds: a few blocks, more than the
# reset point (64 KiB), more than what truncate and cutoff keep (1 MiB).
FILES = [("eins", ".txt", 2000), ("zwei", ".bin", 300 * 1024), ("drei", ".bin", 1536 * 1024)]


def runs_32bit():
    try:
        return subprocess.run(["/lib/ld-linux.so.2", "--version"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def program_folder(folder):
    if folder:
        return os.path.abspath(folder)
    if runs_32bit():
        return os.path.join(ROOT, "build-product")
    return qptest.BUILD


def content(run, index, size):
    """Bytes that differ by run, file and offset."""
    seed = bytes((run * 31 + index * 7 + i) & 0xFF for i in range(251))
    return (seed * (size // len(seed) + 1))[:size]


def session_processes(session, name):
    """Pids of the Wine processes called `name` in this session's prefix."""
    key = ("WINEPREFIX=" + session.prefix).encode()
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if name.encode() not in f.read():
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if key in f.read().split(b"\0"):
                    pids.append(int(pid))
        except OSError:
            continue
    return pids


class Bench:
    def __init__(self, session, prog_dir, work):
        self.s = session
        self.work = work
        self.prog = os.path.join(work, "prog")
        self.base = os.path.join(work, "base")
        self.local = os.path.join(work, "local")
        for d in (self.prog, self.base, self.local):
            os.makedirs(d)
        for name in ("Quillpost.exe", "getsize.exe"):
            shutil.copy(os.path.join(prog_dir, name), self.prog)
        code, out = session.run(qptest.exe("app_upload_scramble.exe"), ["geheim"], timeout=60)
        if code != 0:
            raise SystemExit("password scrambling failed")
        self.password = out.decode("cp1252")
        # Answers the questions about boxes.
        self.windows = qptest.WindowDriver(session)

    def configure(self, port, passive):
        qptest.write_ini(os.path.join(self.base, "Quillpost.ini"), {"Set1": {
            "ServerName": "127.0.0.1", "ServerPort": str(port), "Username": "user",
            "Password": self.password, "ServerDirectory": "", "ServerWWWName": WWW,
            "ServerWWWDirectory": "/files/", "PassiveMode": "1" if passive else "0",
            "UseClipboardFunction": "1", "Ask": "0", "DirSel": "0", "DelOld": "0", "DelClick": "0"}})

    def box(self, caption):
        return int(self.windows.ask("box", caption)[0])

    def end_leftovers(self):
        """Ends this session's getsize.exe and Quillpost.exe left from a run."""
        for name in ("getsize.exe", "Quillpost.exe"):
            for pid in session_processes(self.s, name):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass

    def run(self, number, seed, rate, limit):
        passive = number % 2 == 1
        files = []
        for i, (stem, ext, size) in enumerate(FILES):
            name = "%s-%d%s" % (stem, number, ext)
            data = content(number, i, size)
            path = os.path.join(self.local, name)
            with open(path, "wb") as f:
                f.write(data)
            files.append((name, path, data))
        want_clip = b"\r\n".join(("http://%s/files/%s" % (WWW, n)).encode() for n, _, _ in files)
        with ScriptedFtpd(random_faults="%d-%d" % (seed, number), fault_rate=rate) as srv:
            self.configure(srv.port, passive)
            started = time.monotonic()
            proc = self.s.start(os.path.join(self.prog, "Quillpost.exe"),
                                ["1"] + [self.s.winpath(p) for _, p, _ in files], cwd=self.base,
                                name="run%d" % number)
            boxes, runtime_error = [], False
            while proc.poll() is None and time.monotonic() - started < limit:
                if self.box("Fehler:"):
                    boxes.append(self.windows.answer("Fehler:", qptest.IDOK).replace("\r\n", " "))
                elif self.box("Zeilennummer nicht verfügbar."):
                    runtime_error = True
                    self.windows.answer("Zeilennummer nicht verfügbar.", qptest.IDOK)
                else:
                    time.sleep(0.3)  # a poll of the boxes: the product shows them at any time
            seconds = time.monotonic() - started
            hung = proc.poll() is None
            if hung:
                proc.kill()
                proc.wait(10)
            clip = None if hung else self.s.clipboard()
            stored = {n: srv.files.get(n) for n, _, _ in files}
            drawn = list(srv.random_log)
        self.end_leftovers()
        whole = {n: stored[n] is not None and bytes(stored[n]) == data for n, _, data in files}
        if hung:
            outcome = "hang"
        elif proc.returncode != 0 or runtime_error:
            outcome = "crash"
        elif boxes:
            promised = [n for n, _, _ in files if clip and ("/files/" + n).encode() in clip]
            outcome = "honest failure" if all(whole[n] for n in promised) else "false success"
        elif clip == want_clip and all(whole.values()):
            outcome = "success"
        else:
            outcome = "false success"
        return {"number": number, "mode": "passive" if passive else "active", "outcome": outcome,
                "seconds": seconds, "faults": drawn, "boxes": boxes, "code": proc.returncode,
                "whole": sum(whole.values())}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=40)
    ap.add_argument("--seed", type=int, default=1, help="base seed; run n uses SEED-n")
    ap.add_argument("--rate", type=float, default=0.15, help="chance of a fault per command")
    ap.add_argument("--limit", type=float, default=300, help="seconds a run may take")
    ap.add_argument("--programs", help="folder with Quillpost.exe and getsize.exe")
    ap.add_argument("--label", default="", help="name of the build in the table")
    a = ap.parse_args()

    prog_dir = program_folder(a.programs)
    work = tempfile.mkdtemp(prefix="qp-random-")
    results = []
    try:
        with qptest.Session("random-faults") as session:
            b = Bench(session, prog_dir, work)
            print("programs: %s; seed %d, fault rate %.2f, limit %d s, load %s" % (
                prog_dir, a.seed, a.rate, a.limit, " ".join(map(str, os.getloadavg()))), flush=True)
            for n in range(1, a.runs + 1):
                r = b.run(n, a.seed, a.rate, a.limit)
                results.append(r)
                faults = ", ".join("%s:%s%s" % (c, f, "" if conn == 1 else "@%d" % conn)
                                   for conn, c, f in r["faults"]) or "-"
                print("run %2d %-7s %-15s %5.1f s  files %d/3  faults %s%s" % (
                    n, r["mode"], r["outcome"], r["seconds"], r["whole"], faults,
                    ("  box: " + " | ".join(r["boxes"])) if r["boxes"] else ""), flush=True)
            b.windows.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    counts = {o: sum(1 for r in results if r["outcome"] == o) for o in OUTCOMES}
    print()
    print("| build | runs | successes | honest failures | false successes | hangs | crashes |")
    print("|---|---|---|---|---|---|---|")
    print("| %s | %d | %d | %d | %d | %d | %d |" % (
        a.label or prog_dir, len(results), counts["success"], counts["honest failure"],
        counts["false success"], counts["hang"], counts["crash"]))
    return 1 if counts["false success"] or counts["hang"] or counts["crash"] else 0


if __name__ == "__main__":
    sys.exit(main())
