"""pyftpdlib server for the upload-window tests: like tests/support/ftpd.py,
but uploads are read at a limited rate, so that a 20 MiB upload takes some
seconds and its progress can be watched. With --bursts an upload reaches
the disk in one-second bursts, as from a server that buffers: the size it
answers to SIZE stands still between them. Every command is logged as
"<- COMMAND" on stdout."""
import argparse
import logging
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


class BurstFile:
    """A file written for an upload that keeps what it receives and writes
    it out once a second (and at its close)."""

    def __init__(self, f):
        self._f = f
        self._held = []
        self._since = time.monotonic()

    def write(self, data):
        self._held.append(bytes(data))
        if time.monotonic() - self._since >= 1.0:
            self._flush()
        return len(data)

    def _flush(self):
        self._f.write(b"".join(self._held))
        self._f.flush()
        self._held = []
        self._since = time.monotonic()

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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="pass")
    ap.add_argument("--passive", required=True, help="LO-HI")
    ap.add_argument("--rate", type=int, required=True, help="upload bytes per second")
    ap.add_argument("--bursts", action="store_true", help="write uploads to disk once a second")
    a = ap.parse_args()

    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    dtp = type("DTP", (ThrottledDTPHandler,), {"read_limit": a.rate, "write_limit": 0})
    handler = type("Handler", (FTPHandler,), {})
    handler.authorizer = auth
    handler.dtp_handler = dtp
    if a.bursts:
        handler.abstracted_fs = BurstFS
    handler.auth_failed_timeout = 0
    handler.masquerade_address = "127.0.0.1"
    lo, hi = map(int, a.passive.split("-"))
    handler.passive_ports = range(lo, hi + 1)
    logging.basicConfig(level=logging.DEBUG, format="%(message)s")
    server = FTPServer(("127.0.0.1", a.port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
