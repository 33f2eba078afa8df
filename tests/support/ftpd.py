"""pyftpdlib server for tests: 127.0.0.1 (or ::1) only, no delay after a failed login,
every command logged as "<- COMMAND" on stdout. With --rate uploads are read
at that many bytes per second, so that their progress can be watched; with
--bursts an upload reaches the disk in one-second bursts, as from a server
that buffers: the size it answers to SIZE stands still between them.

Hashes of stored files: --hash "SHA-1*;SHA-256;MD5" offers HASH with those
algorithms (the one marked "*" answers until "OPTS HASH name" selects
another), --xmd5 offers XMD5 (listed in FEAT, or answered without being
listed with --xmd5 unlisted). The hash is read from the file when asked, as
servers do. --corrupt N changes one byte in the middle of each of the
first N files uploaded, once stored (a copy damaged on the server's side)."""
import argparse
import hashlib
import logging
import time
import zlib

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


class BurstFile:
    """A file written for an upload that keeps what it receives and writes
    it out once a second (and at its close)."""

    def __init__(self, f):
        self._f, self._held, self._since = f, [], time.monotonic()

    def write(self, data):
        self._held.append(bytes(data))
        if time.monotonic() - self._since >= 1.0:
            self._flush()
        return len(data)

    def _flush(self):
        self._f.write(b"".join(self._held))
        self._f.flush()
        self._held, self._since = [], time.monotonic()

    def close(self):
        if not self._f.closed:
            self._flush()
        self._f.close()

    def __getattr__(self, name):
        return getattr(self._f, name)


class BurstFS(AbstractedFS):
    def open(self, filename, mode):
        f = super().open(filename, mode)
        return BurstFile(f) if "w" in mode or "a" in mode else f


HASH_NAMES = {"SHA-256": "sha256", "SHA-1": "sha1", "MD5": "md5", "CRC32": None}


def file_digest(path, algorithm):
    if algorithm == "CRC32":
        crc = 0
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                crc = zlib.crc32(block, crc)
        return "%08x" % crc
    h = hashlib.new(HASH_NAMES[algorithm])
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def hash_commands(base, algorithms, xmd5, corrupt):
    """A handler class with HASH and/or XMD5 (see the module text)."""
    offered = [a.rstrip("*") for a in algorithms.split(";")] if algorithms else []
    default = next((a.rstrip("*") for a in algorithms.split(";") if a.endswith("*")), offered[0]) \
        if offered else None
    feats = (["HASH " + algorithms] if offered else []) + (["XMD5"] if xmd5 == "listed" else [])
    corrupted = []

    class Handler(base):
        proto_cmds = dict(base.proto_cmds)
        if offered:
            proto_cmds["HASH"] = dict(perm="r", auth=True, arg=True, help="Syntax: HASH <SP> file-name")
        if xmd5:
            proto_cmds["XMD5"] = dict(perm="r", auth=True, arg=True, help="Syntax: XMD5 <SP> file-name")

        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)
            self._extra_feats = list(feats)
            self.selected = default

        def ftp_OPTS(self, line):
            cmd, _, arg = line.partition(" ")
            if cmd.upper() != "HASH" or not offered:
                return super().ftp_OPTS(line)
            if arg.upper() not in offered:
                self.respond("504 Unknown algorithm.")
                return
            self.selected = arg.upper()
            self.respond("200 " + self.selected)

        def ftp_HASH(self, path):
            size = self.fs.getsize(path)
            self.respond("213 %s 0-%d %s %s" % (self.selected, size, file_digest(path, self.selected),
                                               self.fs.fs2ftp(path)))

        def ftp_XMD5(self, path):
            self.respond("250 " + file_digest(path, "MD5").upper())

        def on_file_received(self, file):
            if len(corrupted) < corrupt:
                corrupted.append(file)
                with open(file, "r+b") as f:
                    f.seek(0, 2)
                    middle = f.tell() // 2
                    f.seek(middle)
                    byte = f.read(1)
                    f.seek(middle)
                    f.write(bytes([(byte[0] if byte else 0) ^ 0x20]))
    return Handler


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", default="127.0.0.1", help="127.0.0.1 or ::1")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="pass")
    ap.add_argument("--passive", default=None, help="LO-HI")
    ap.add_argument("--anonymous", action="store_true")
    ap.add_argument("--timeline", action="store_true", help="each line starts with its Unix time")
    ap.add_argument("--rate", type=int, default=0, help="upload bytes per second")
    ap.add_argument("--bursts", action="store_true", help="write uploads to disk once a second")
    ap.add_argument("--hash", default="", help="HASH algorithms, the default marked *")
    ap.add_argument("--xmd5", nargs="?", const="listed", default=None, help="offer XMD5 (listed or unlisted)")
    ap.add_argument("--corrupt", type=int, default=0, help="change a byte of the first N uploads")
    a = ap.parse_args()

    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    if a.anonymous:
        auth.add_anonymous(a.root, perm="elradfmwMT")
    handler = type("Handler", (FTPHandler,), {})
    if a.hash or a.xmd5 or a.corrupt:
        handler = hash_commands(handler, a.hash, a.xmd5, a.corrupt)
    handler.authorizer = auth
    handler.auth_failed_timeout = 0
    if ":" not in a.host:
        handler.masquerade_address = a.host
    if a.rate:
        handler.dtp_handler = type("DTP", (ThrottledDTPHandler,), {"read_limit": a.rate, "write_limit": 0})
    if a.bursts:
        handler.abstracted_fs = BurstFS
    if a.passive:
        lo, hi = map(int, a.passive.split("-"))
        handler.passive_ports = range(lo, hi + 1)
    logging.basicConfig(level=logging.DEBUG,
                        format="%(created).6f %(message)s" if a.timeline else "%(message)s")
    server = FTPServer((a.host, a.port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
