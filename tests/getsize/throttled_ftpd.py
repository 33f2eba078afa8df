"""pyftpdlib server for the upload-window tests: like tests/support/ftpd.py,
but uploads are read at a limited rate, so that a 20 MiB upload takes some
seconds and its progress can be watched. Every command is logged as
"<- COMMAND" on stdout."""
import argparse
import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="pass")
    ap.add_argument("--passive", required=True, help="LO-HI")
    ap.add_argument("--rate", type=int, required=True, help="upload bytes per second")
    a = ap.parse_args()

    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    dtp = type("DTP", (ThrottledDTPHandler,), {"read_limit": a.rate, "write_limit": 0})
    handler = type("Handler", (FTPHandler,), {})
    handler.authorizer = auth
    handler.dtp_handler = dtp
    handler.auth_failed_timeout = 0
    handler.masquerade_address = "127.0.0.1"
    lo, hi = map(int, a.passive.split("-"))
    handler.passive_ports = range(lo, hi + 1)
    logging.basicConfig(level=logging.DEBUG, format="%(message)s")
    server = FTPServer(("127.0.0.1", a.port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
