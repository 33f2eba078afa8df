"""End-to-end runs of Quillpost.exe with the address check: the real program
under Wine uploads to pyftpdlib on 127.0.0.1 while Python's http.server
serves the FTP server's folder (plain, or with TLS and a certificate of the
test CA), and each address goes into the clipboard only when that web
server serves the file. Misbehaving web servers are rows of one table.

    address_e2e.py Checked[.test_name]
"""
import os
import sys
import time
import unittest
import urllib.parse
from collections import namedtuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import qptest  # noqa: E402
from uploads import RUN_LIMIT, Run, payload, read  # noqa: E402
import tlscerts  # noqa: E402
import webd  # noqa: E402

ONE = "Diese Adresse zeigt die hochgeladene Datei nicht und wurde nicht in die Zwischenablage kopiert:"
MANY = "Diese Adressen zeigen die hochgeladenen Dateien nicht und wurden nicht in die Zwischenablage kopiert:"
HINT = ("Bitte prüfen Sie in der Konfiguration die Angaben \"HTTP-Server\" und \"HTTP-Verzeichnis\". "
        "Die Dateien liegen auf dem FTP-Server.")
NOT_FOUND = "Der Webserver antwortet mit 404 Not Found."
# The check's whole time, with the grace the collector gives a late worker.
CHECK_LIMIT = 12

# name: what the row shows; files: local names (stored with "_" for blanks);
# folder: ServerWWWDirectory; web: which server answers ("http", "silent",
# "closed", or a certificate of the test CA's: "trusted", "self", "expired",
# "other"); setup: misbehaviour of the web server; failed: {stored name:
# reason}; requests: what the web server must have seen (name for the
# stored name's encoded form); keys: further INI keys.
Row = namedtuple("Row", "name files folder web setup failed requests keys")


def row(name, files=("a.txt",), folder="files", web="http", setup=None, failed=None, requests=None, **keys):
    return Row(name, list(files), folder, web, setup, dict(failed or {}), requests, keys)


def hide(stored):
    return lambda web: web.hidden.add("/files/" + encoded(stored))


ROWS = [
    row("served, umlauts in UTF-8, blanks, % and #, slashes around the folder",
        files=["Preis 100% #1.txt", "Grüße 2026.txt"], folder="//files/",
        requests=["HEAD /files/{0}", "HEAD /files/{1}"]),
    row("wrong web folder", folder="wrong", failed={"a.txt": NOT_FOUND}, requests=["HEAD /wrong/{0}"]),
    row("one of two not served", files=["a.txt", "b.txt"], setup=hide("b.txt"), failed={"b.txt": NOT_FOUND}),
    row("a length that differs", setup=lambda web: setattr(web, "extra_length", 1),
        failed={"a.txt": "Der Webserver nennt eine andere Länge: 2001 statt 2000 Bytes."}),
    row("a redirect to the right folder", folder="alt", setup=lambda web: web.redirects.update({"/alt/": "/files/"}),
        requests=["HEAD /alt/{0}", "HEAD /files/{0}"]),
    row("HEAD refused, GET without the body", setup=lambda web: setattr(web, "refuse_head", True),
        requests=["HEAD /files/{0}", "GET /files/{0}"]),
    row("a web server that never answers", web="silent",
        failed={"a.txt": "Keine Antwort vom Webserver innerhalb von 10 Sekunden."}),
    row("nothing listens", web="closed", failed={"a.txt": "Keine Verbindung zum Webserver."}),
    row("https, certificate of the test CA", web="trusted", requests=["HEAD /files/{0}"]),
    row("https, untrusted certificate", web="self",
        failed={"a.txt": "Das Zertifikat des Webservers ist nicht vertrauenswürdig."}),
    row("https, expired certificate", web="expired",
        failed={"a.txt": "Das Zertifikat des Webservers ist abgelaufen."}),
    row("https, certificate for another name", web="other",
        failed={"a.txt": "Das Zertifikat des Webservers gilt nicht für diesen Namen."}),
    row("check off: the address as ever, nothing asked", folder="wrong", requests=[], CheckAddress=0),
]


def stored(name):
    return name.replace(" ", "_")


def encoded(stored_name):
    """The name as the address carries it: UTF-8 (pyftpdlib speaks it),
    percent-encoded but for the path-segment characters."""
    return urllib.parse.quote(stored_name.encode("utf-8"), safe="-._~!$&'()*+,;=:@")


def box_text(failed_addresses):
    head = ONE if len(failed_addresses) == 1 else MANY
    entries = "".join("\r\n\r\n%s\r\n%s" % pair for pair in failed_addresses)
    return head + entries + "\r\n\r\n" + HINT


class Checked(qptest.SharedSession):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.ca = tlscerts.TestCA(os.path.join(cls.shared.dir, "ca"))
        cls.ca.__enter__()
        cls.addClassCleanup(cls.ca.remove)
        cls.certs = {"trusted": cls.ca.server("localhost"), "self": cls.ca.self_signed("localhost"),
                     "expired": cls.ca.expired("localhost"),
                     "other": cls.ca.server("other.example", names=["DNS:other.example"])}

    def web_server(self, kind, root):
        if kind == "silent":
            return webd.SilentServer()
        if kind == "closed":
            return Closed()
        return webd.WebServer(root, tls=self.certs.get(kind))

    def test_table(self):
        with self.session() as s:
            for r in ROWS:
                with self.subTest(r.name):
                    self.run_row(s, r)

    def run_row(self, s, r):
        root = os.path.join(s.dir, "srv-%d" % ROWS.index(r))
        os.makedirs(os.path.join(root, "files"))
        with qptest.PyFtpd(root) as ftpd, self.web_server(r.web, root) as web:
            host = getattr(web, "host", "127.0.0.1")
            scheme = "https" if r.web in self.certs else "http"
            www = "%s%s:%d" % ("https://" if scheme == "https" else "", host, web.port)
            if r.setup:
                r.setup(web)
            u = Run(s, "run-%d" % ROWS.index(r))
            keys = dict(ServerDirectory="files", ServerWWWName=www, ServerWWWDirectory=r.folder,
                        CheckAddress=1, DelOld=4)
            keys.update(r.keys)
            u.configure(ftpd, **keys)
            names = [stored(n) for n in r.files]
            datas = [payload(n) for n in names]
            folder = r.folder.strip("/")
            address = {n: "%s://%s:%d/%s/%s" % (scheme, host, web.port, folder, encoded(n)) for n in names}
            served = [address[n] for n in names if n not in r.failed]
            if not served:
                s.clear_clipboard()  # an earlier row's addresses stay with the session's desktop
            started = time.monotonic()
            p = u.start([u.file(n, d) for n, d in zip(r.files, datas)])
            if r.failed:
                box = s.wait_box("Fehler:", timeout=RUN_LIMIT)
                elapsed = time.monotonic() - started
                text = qptest.wait_until(lambda: s.box_text(box), 10, "the box's text")
                # The served addresses are in the clipboard before the box.
                clip = s.clipboard()
                s.press(box, qptest.IDOK)
                self.assertEqual(text, box_text([(address[n], why) for n, why in r.failed.items()]))
                self.assertEqual(clip, "\r\n".join(served).encode("ascii") if served else None)
                if r.web == "silent":
                    self.assertGreater(elapsed, 9.5)  # the check waited its whole time
                    self.assertGreater(web.accepted, 0)
                s.wait_exit(p, RUN_LIMIT)
            else:
                s.wait_exit(p, RUN_LIMIT + CHECK_LIMIT)
                self.assertEqual(s.clipboard(), "\r\n".join(served).encode("ascii"))
            # Failed or not, every file is on the server and in the history.
            for n, d in zip(names, datas):
                self.assertEqual(read(os.path.join(root, "files", n)), d)
            self.assertEqual(u.history()[:len(names)], names[::-1])
            self.assertEqual(ftpd.commands()[-1], "QUIT")
            if r.requests is not None:
                # Checks of several files run side by side: their order is open.
                self.assertEqual(sorted(web.requests), sorted(q.format(*map(encoded, names)) for q in r.requests))


class Closed:
    """A port where nothing listens."""

    def __enter__(self):
        self.port = qptest.free_port()
        return self

    def __exit__(self, *exc):
        return False


if __name__ == "__main__":
    unittest.main()
