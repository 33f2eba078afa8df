"""pyftpdlib server for tests: 127.0.0.1 (or ::1) only, no delay after a failed login,
every command logged as "<- COMMAND" on stdout. With --rate uploads are read
at that many bytes per second, so that their progress can be watched; with
--bursts an upload reaches the disk in one-second bursts, as from a server
that buffers: the size it answers to SIZE stands still between them."""
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
    a = ap.parse_args()

    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    if a.anonymous:
        auth.add_anonymous(a.root, perm="elradfmwMT")
    handler = type("Handler", (FTPHandler,), {})
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
