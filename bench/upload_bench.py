#!/usr/bin/python3
"""Upload speed: the same 64 MiB file to the same pyftpdlib server on
loopback, once with FtpCommand "Upload" (ftpdrive.exe under Wine) and once
with `curl -T`, in passive and in active mode. Prints MB/s (MiB per second)
of each, the ratio, and the CPU seconds of our process. With --host ::1 the
server listens on IPv6 (EPSV and EPRT instead of PASV and PORT).

Our figure is the time of the "Upload" call alone (TYPE, PASV or PORT, STOR,
the data and the final reply); curl's is its whole run including login, so
the comparison slightly favours us. The CPU seconds are those of the whole
ftpdrive process (Wine start, login and upload); the "connect only" line
gives the part that is not the upload.

Needs a build with ftpdrive.exe (BUILD_DIR or build/) and a booted Wine
prefix (tools/testbench makes one); run: bench/upload_bench.py [--size MiB] [--host ::1]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "ftp_transfer"))
if "QP_BUILD" not in os.environ and os.environ.get("BUILD_DIR"):
    os.environ["QP_BUILD"] = os.path.abspath(os.environ["BUILD_DIR"])
from drive import drive, make_file, md5_file, qptest  # noqa: E402

MIB = 1024 * 1024


def ours(session, server, path, name, passive):
    run = drive(session, [("setpassive", int(passive)),
                          ("connect", server.user, server.password, server.host, str(server.port)),
                          ("upload", session.winpath(path), name),
                          ("disconnect",)], timeout=600, tag="bench")
    up = run[2]
    if up.value != 1:
        raise SystemExit("upload failed: %r" % up)
    return up.ms / 1000.0, run.cpu


def curl_upload(url, path, user, password, passive, extra=(), timeout=600, port_address="127.0.0.1"):
    """Native curl -T; its own transfer time (or the wall time) and the wall time."""
    args = ["curl", "-s", "-S", *extra, "-T", path, "--user", "%s:%s" % (user, password),
            "-w", "%{time_total}", url]
    args += ["--ftp-pasv"] if passive else ["--ftp-port", port_address]
    started = time.monotonic()
    out = subprocess.run(args, check=True, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=timeout)
    wall = time.monotonic() - started
    try:
        return float(out.stdout.decode().strip()), wall
    except ValueError:
        return wall, wall


def curl(server, path, name, passive):
    ipv6 = ":" in server.host
    host = "[%s]" % server.host if ipv6 else server.host
    # "-": the control connection's own address, which curl takes for IPv6 too.
    return curl_upload("ftp://%s:%d/%s" % (host, server.port, name), path, server.user,
                       server.password, passive, port_address="-" if ipv6 else "127.0.0.1")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=64, help="file size in MiB")
    ap.add_argument("--repeat", type=int, default=1, help="runs per case; the best counts")
    ap.add_argument("--host", default="127.0.0.1", help="the server's address: 127.0.0.1 or ::1")
    a = ap.parse_args()

    work = tempfile.mkdtemp(prefix="qp-bench-")
    root = os.path.join(work, "root")
    os.makedirs(root)
    src = make_file(os.path.join(work, "bench.bin"), a.size * MIB, seed=7)
    want = md5_file(src)
    mib = a.size
    try:
        with qptest.Session("bench") as session, qptest.PyFtpd(root, host=a.host) as server:
            base = drive(session, [("connect", server.user, server.password, server.host,
                                    str(server.port)), ("disconnect",)], tag="bench")
            print("file: %d MiB; pyftpdlib on %s port %d" % (mib, server.host, server.port))
            print("ftpdrive connect only: %.2f CPU s" % base.cpu)
            for passive in (True, False):
                mode = "passive" if passive else "active"
                best_ours, cpu_ours, best_curl = None, None, None
                for i in range(a.repeat):
                    secs, cpu = ours(session, server, src, "ours-%s.bin" % mode, passive)
                    if md5_file(os.path.join(root, "ours-%s.bin" % mode)) != want:
                        raise SystemExit("our upload arrived corrupted")
                    if best_ours is None or secs < best_ours:
                        best_ours, cpu_ours = secs, cpu
                    csecs, _ = curl(server, src, "curl-%s.bin" % mode, passive)
                    if md5_file(os.path.join(root, "curl-%s.bin" % mode)) != want:
                        raise SystemExit("curl's upload arrived corrupted")
                    best_curl = csecs if best_curl is None else min(best_curl, csecs)
                r_ours, r_curl = mib / best_ours, mib / best_curl
                print("%-7s  FtpCommand Upload: %7.1f MB/s (%.2f s, process CPU %.2f s)   "
                      "curl -T: %7.1f MB/s (%.2f s)   ratio ours/curl: %.2f"
                      % (mode, r_ours, best_ours, cpu_ours, r_curl, best_curl, r_ours / r_curl))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
