"""pyftpdlib server for tests: 127.0.0.1 only, no delay after a failed login,
every command logged as "<- COMMAND" on stdout."""
import argparse
import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="pass")
    ap.add_argument("--passive", default=None, help="LO-HI")
    ap.add_argument("--anonymous", action="store_true")
    ap.add_argument("--timeline", action="store_true", help="each line starts with its Unix time")
    a = ap.parse_args()

    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    if a.anonymous:
        auth.add_anonymous(a.root, perm="elradfmwMT")
    handler = type("Handler", (FTPHandler,), {})
    handler.authorizer = auth
    handler.auth_failed_timeout = 0
    handler.masquerade_address = "127.0.0.1"
    if a.passive:
        lo, hi = map(int, a.passive.split("-"))
        handler.passive_ports = range(lo, hi + 1)
    logging.basicConfig(level=logging.DEBUG,
                        format="%(created).6f %(message)s" if a.timeline else "%(message)s")
    server = FTPServer(("127.0.0.1", a.port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
