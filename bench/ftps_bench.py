#!/usr/bin/python3
"""Upload speed over explicit FTPS: the same file (256 MiB by default) to the
same vsftpd on loopback with TLS required for login and data, once with
FtpCommand "Upload" (ftpdrive.exe under Wine, Schannel) and once with
`curl --ssl-reqd -T` (OpenSSL), in passive and in active mode. Prints MB/s
(MiB per second) of each, the ratio, and the CPU seconds of our process.

Our figure is the time of the "Upload" call alone (TYPE, PASV or PORT, STOR,
the data connection's handshake, the data and the final reply); curl's is
its whole run including connect, AUTH TLS and login. The server's
certificate comes from a test CA that is trusted for the run and removed
afterwards.

Needs a build with ftpdrive.exe (BUILD_DIR or build/) and a booted Wine
prefix (tools/testbench makes one); run as root:
    bench/ftps_bench.py [--size MiB] [--repeat N]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "ftp_transfer"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
if "QP_BUILD" not in os.environ and os.environ.get("BUILD_DIR"):
    os.environ["QP_BUILD"] = os.path.abspath(os.environ["BUILD_DIR"])
from drive import drive, make_file, md5_file, qptest  # noqa: E402
import tlscerts  # noqa: E402
from upload_bench import curl_upload  # noqa: E402

MIB = 1024 * 1024
USER, PASSWORD, HOST = "anonymous", "bench@example.com", "localhost"


def ours(session, server, path, name, passive):
    run = drive(session, [("setpassive", int(passive)), ("settls", 1),
                          ("connect", USER, PASSWORD, HOST, str(server.port)),
                          ("setdir", "upload"),
                          ("upload", session.winpath(path), name),
                          ("disconnect",)], timeout=900, tag="bench")
    up = run[4]
    if up.value != 1:
        raise SystemExit("upload failed: %r" % up)
    return up.ms / 1000.0, run.cpu


def curl(server, ca, path, name, passive):
    return curl_upload("ftp://%s:%d/upload/%s" % (HOST, server.port, name), path, USER, PASSWORD,
                       passive, extra=("--ssl-reqd", "--cacert", ca), timeout=900)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=256, help="file size in MiB")
    ap.add_argument("--repeat", type=int, default=1, help="runs per case; the best counts")
    a = ap.parse_args()

    work = tempfile.mkdtemp(prefix="qp-ftps-bench-")
    src = make_file(os.path.join(work, "bench.bin"), a.size * MIB, seed=7)
    want = md5_file(src)
    try:
        with qptest.Session("ftps-bench") as session, tlscerts.TestCA(os.path.join(work, "ca")) as ca:
            cert, key = ca.server(HOST)
            # Wine's Schannel cannot resume TLS sessions (see docs/performance.md).
            tls = ["ssl_enable=YES", "allow_anon_ssl=YES", "force_anon_logins_ssl=YES",
                   "force_anon_data_ssl=YES", "require_ssl_reuse=NO", "ssl_ciphers=HIGH",
                   "rsa_cert_file=" + cert, "rsa_private_key_file=" + key, "no_anon_password=NO"]
            with qptest.Vsftpd(os.path.join(work, "vs"), extra=tls) as server:
                print("file: %d MiB; vsftpd with TLS required on 127.0.0.1:%d" % (a.size, server.port))
                for passive in (True, False):
                    mode = "passive" if passive else "active"
                    best_ours, cpu_ours, best_curl, curl_failed = None, None, None, 0
                    for _ in range(a.repeat):
                        name = "ours-%s.bin" % mode
                        secs, cpu = ours(session, server, src, name, passive)
                        if md5_file(os.path.join(server.upload, name)) != want:
                            raise SystemExit("our upload arrived corrupted")
                        os.remove(os.path.join(server.upload, name))
                        if best_ours is None or secs < best_ours:
                            best_ours, cpu_ours = secs, cpu
                        name = "curl-%s.bin" % mode
                        try:
                            csecs, _ = curl(server, ca.cert, src, name, passive)
                        except subprocess.CalledProcessError as e:
                            # curl 7.88 sends active-mode FTPS data without a
                            # handshake ("wrong version number").
                            curl_failed = e.returncode
                            continue
                        if md5_file(os.path.join(server.upload, name)) != want:
                            raise SystemExit("curl's upload arrived corrupted")
                        os.remove(os.path.join(server.upload, name))
                        best_curl = csecs if best_curl is None else min(best_curl, csecs)
                    r_ours = a.size / best_ours
                    line = "%-7s  FtpCommand Upload (Schannel): %7.1f MB/s (%.2f s, process CPU %.2f s)   " % (
                        mode, r_ours, best_ours, cpu_ours)
                    if best_curl is None:
                        line += "curl --ssl-reqd -T: failed (exit %d)" % curl_failed
                    else:
                        r_curl = a.size / best_curl
                        line += "curl --ssl-reqd -T: %7.1f MB/s (%.2f s)   ratio ours/curl: %.2f" % (
                            r_curl, best_curl, r_ours / r_curl)
                    print(line, flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
