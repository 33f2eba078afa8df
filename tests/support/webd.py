"""Web servers on 127.0.0.1 for address checks: Python's http.server serving
a folder (the FTP server's), plain or wrapped in TLS, with a few ways to
misbehave, and a server that accepts connections and never answers. They run
in threads of the test process and log every request as "VERB path".

    with webd.WebServer(root) as web:                   # http://127.0.0.1:port/
        ...; assert "HEAD /files/a.txt" in web.requests
    with webd.WebServer(root, tls=(cert, key)) as web:  # https://localhost:port/
    web.hidden.add("/files/a.txt")       # 404 for this path
    web.redirects["/alt/"] = "/files/"   # 302 from one folder to another
    web.refuse_head = True               # 405 for HEAD, GET as usual
    web.extra_length = 1                 # 200 with a Content-Length one too long
"""
import contextlib
import functools
import http.server
import os
import socket
import ssl
import threading
import time


class _Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _note(self):
        with self.server.web.lock:
            self.server.web.log.append("%s %s" % (self.command, self.path))
            self.server.web.times.append(time.time())

    def _special(self):
        """Answers the misbehaviours; False when the folder is to answer."""
        web = self.server.web
        for prefix, target in web.redirects.items():
            if self.path.startswith(prefix):
                self.send_response(302)
                self.send_header("Location", target + self.path[len(prefix):])
                self.send_header("Content-Length", "0")
                self.end_headers()
                return True
        if self.path in web.hidden:
            self.send_error(404)
            return True
        if web.extra_length:
            path = self.translate_path(self.path)
            if os.path.isfile(path):
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(os.path.getsize(path) + web.extra_length))
                self.end_headers()
                return True
        return False

    def do_HEAD(self):
        self._note()
        if self.server.web.refuse_head:
            self.send_error(405)
        elif not self._special():
            super().do_HEAD()

    def do_GET(self):
        self._note()
        if not self._special():
            super().do_GET()


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that reads no body or refuses the certificate


class WebServer:
    def __init__(self, root, tls=None, port=0):
        self.root = root
        self.tls = tls
        self.bind_port = port
        self.server = None
        self.lock = threading.Lock()
        self.log = []
        self.times = []  # Unix time of each request in the log
        self.hidden = set()
        self.redirects = {}
        self.refuse_head = False
        self.extra_length = 0

    @property
    def port(self):
        return self.server.server_address[1]

    @property
    def host(self):
        """The name to put into an address: Wine's crypt32 does not match a
        certificate's IP addresses, so https goes to "localhost"."""
        return "localhost" if self.tls else "127.0.0.1"

    @property
    def requests(self):
        with self.lock:
            return list(self.log)

    def __enter__(self):
        self.server = _Server(("127.0.0.1", self.bind_port), functools.partial(_Handler, directory=self.root))
        self.server.web = self
        if self.tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*self.tls)
            self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()
        return False


class SilentServer:
    """Accepts connections on 127.0.0.1 and never sends a byte."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.accepted = 0
        self._conns = []
        self._stop = threading.Event()

    def _serve(self):
        self.sock.settimeout(0.1)
        while not self._stop.is_set():
            with contextlib.suppress(socket.timeout, OSError):
                conn, _ = self.sock.accept()
                self._conns.append(conn)
                self.accepted += 1

    def __enter__(self):
        self.sock.listen(16)
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(5)
        for c in self._conns:
            c.close()
        self.sock.close()
        return False


def main():
    """A web server process of its own (for the bench, whose timing loop
    must not share an interpreter with it): serves --root on 127.0.0.1 and
    writes "unix-time VERB path" per request to standard output."""
    import argparse
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--port", type=int, required=True)
    a = ap.parse_args()
    web = WebServer(a.root, port=a.port)
    with web:
        seen = 0
        while True:
            time.sleep(0.05)
            with web.lock:
                new = list(zip(web.times[seen:], web.log[seen:]))
            seen += len(new)
            for t, line in new:
                print("%.6f %s" % (t, line), flush=True)


if __name__ == "__main__":
    main()
