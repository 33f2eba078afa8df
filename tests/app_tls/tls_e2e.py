"""End-to-end runs of explicit FTPS (AUTH TLS): the real Quillpost.exe under
Wine against vsftpd that requires TLS for the login and for every data
connection. A test CA, trusted through the machine's store while the class
runs, signs the server certificates; failures use a self-signed, a
wrongly named and an expired certificate, and a server without TLS.

The server name is "localhost": Wine's crypt32 matches only host names, not
IP addresses, against a certificate's names.

Wine's Schannel cannot resume TLS sessions, so these servers run with
require_ssl_reuse=NO; Windows' Schannel resumes the control connection's
session on the data connections by itself (same credentials, same name).

    tls_e2e.py [Ftps.test_name]
"""
import os
import signal
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "app_dirsel"))
import qptest  # noqa: E402
import tlscerts  # noqa: E402
from uploads import STANDIN, Run, payload, read, scrambled  # noqa: E402
import dirsel_e2e  # noqa: E402

SERVER = "localhost"
PASSWORD = "Geheim-Kennwort-7"
TITLE = "Quillpost-Upload"
PBM_GETPOS = 0x408
LIMIT = 60


def tls_lines(cert, key, *more):
    return ["ssl_enable=YES", "allow_anon_ssl=YES", "force_anon_logins_ssl=YES", "force_anon_data_ssl=YES",
            "require_ssl_reuse=NO", "ssl_ciphers=HIGH", "rsa_cert_file=" + cert, "rsa_private_key_file=" + key,
            "no_anon_password=NO", "xferlog_enable=YES"] + list(more)


class Capture:
    """tcpdump on the loopback interface for the given filter, into a file."""

    def __init__(self, folder, bpf):
        self.path = os.path.join(folder, "lo.pcap")
        self.err = os.path.join(folder, "tcpdump.err")
        self.bpf = bpf

    def __enter__(self):
        with open(self.err, "wb") as err:
            self.proc = subprocess.Popen(["tcpdump", "-i", "lo", "-U", "-n", "-w", self.path, self.bpf],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        qptest.wait_until(lambda: b"listening on" in open(self.err, "rb").read(), 20, "tcpdump to listen")
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)

    def data(self):
        with open(self.path, "rb") as f:
            return f.read()


class Ftps(qptest.SharedSession):
    """One Wine session and one trusted test CA for all cases."""

    @classmethod
    def setUpClass(cls):
        # Class clean-ups run even when this set-up fails half-way, so the CA
        # never stays in the machine's store.
        super().setUpClass()
        cls.ca = tlscerts.TestCA(os.path.join(cls.shared.dir, "ca"))
        cls.addClassCleanup(cls.ca.remove)
        cls.ca.__enter__()
        cls.good = cls.ca.server(SERVER)

    def vsftpd(self, s, cert_key=None, *more, tls=True):
        cert, key = cert_key or self.good
        return qptest.Vsftpd(os.path.join(s.dir, "vs"), extra=tls_lines(cert, key, *more) if tls else ["xferlog_enable=YES"])

    def upload(self, s, vs, **keys):
        u = Run(s, getsize=qptest.exe("getsize.exe") if keys.pop("getsize", False) else STANDIN)
        section = dict(ServerName=SERVER, Username="anonymous", ServerDirectory="/upload/", UseTLS=1)
        section.update(keys)
        u.configure(vs.port, password=PASSWORD, **section)
        return u

    # -- uploads -------------------------------------------------------------
    def test_passive_three_files_nothing_in_the_clear(self):
        with self.session() as s:
            # Slow enough for the upload window to show the big file's growth.
            with self.vsftpd(s, None, "anon_max_rate=1500000") as vs:
                u = self.upload(s, vs, PassiveMode=1, getsize=True)
                names = ["eins.txt", "zwei.txt", "drei gross.bin"]
                datas = [payload("Klartext-eins-", 2000), payload("Klartext-zwei-", 150000),
                         payload("Klartext-drei-", 3 * 1024 * 1024)]
                paths = [u.file(n, d) for n, d in zip(names, datas)]
                bpf = "tcp port %d or tcp portrange %d-%d" % (vs.port, vs.pasv[0], vs.pasv[1])
                with Capture(s.dir, bpf) as cap:
                    p = u.start(paths)
                    window = s.wait_window(TITLE, LIMIT)
                    bar = {row[1]: row[0] for row in s.children(window)}[102]
                    # Progress comes from SIZE on the window's own TLS connection.
                    qptest.wait_until(lambda: int(s.winctl("send", bar, PBM_GETPOS, 0, 0, check=False) or 0) > 0,
                                      LIMIT, "progress in the upload window", interval=0.1)
                    self.assertEqual(s.wait_exit(p, LIMIT), 0)
                stored = [read(os.path.join(vs.upload, n.replace(" ", "_"))) for n in names]
                self.assertEqual(stored, datas)
                self.assertEqual(s.clipboard(), b"http://www.example.com/files/eins.txt\r\n"
                                                b"http://www.example.com/files/zwei.txt\r\n"
                                                b"http://www.example.com/files/drei_gross.bin")
                wire = cap.data()
                # The capture saw the plain start of the session ...
                self.assertIn(b"AUTH TLS\r\n", wire)
                self.assertIn(b"234 ", wire)
                # ... and nothing after it: no login, no commands, no file bytes.
                for secret in (b"USER ", b"PASS ", PASSWORD.encode(), b"STOR ", b"PROT P",
                               b"Klartext-eins-Klartext", b"Klartext-zwei-Klartext", b"Klartext-drei-Klartext"):
                    self.assertNotIn(secret, wire, secret)
                cmds = vs.commands()
                self.assertIn("PROT P", cmds)
                self.assertIn("SIZE drei_gross.bin", cmds)  # the upload window's own connection

    def test_active_three_files(self):
        with self.session() as s, self.vsftpd(s) as vs:
            u = self.upload(s, vs, PassiveMode=0, ServerWWWDirectory="pub")
            names = ["a.txt", "b.txt", "c.txt"]
            datas = [payload(n, 70000 + i) for i, n in enumerate(names)]
            u.run([u.file(n, d) for n, d in zip(names, datas)])
            self.assertEqual([read(os.path.join(vs.upload, n)) for n in names], datas)
            self.assertEqual(s.clipboard(), b"http://www.example.com/pub/a.txt\r\n"
                                            b"http://www.example.com/pub/b.txt\r\n"
                                            b"http://www.example.com/pub/c.txt")
            cmds = vs.commands()
            self.assertEqual(len([c for c in cmds if c.startswith("PORT ")]), 3)
            self.assertNotIn("PASV", cmds)

    def test_history_deletes_the_old_upload(self):
        with self.session() as s, self.vsftpd(s) as vs:
            vs.put("upload/alt.txt", b"old upload")
            u = self.upload(s, vs, DelOld=1, History1="alt.txt")
            u.run([u.file("neu.txt", b"new upload")])
            self.assertEqual(sorted(os.listdir(vs.upload)), ["neu.txt"])
            self.assertEqual(u.history(), ["neu.txt"] + [""] * 19)
            self.assertIn("DELE alt.txt", vs.commands())

    def test_folder_window_browses_makes_and_removes_a_folder(self):
        with self.session() as s, self.vsftpd(s) as vs:
            for d in ("sub1", "sub2"):
                os.makedirs(os.path.join(vs.upload, d))
            w = dirsel_e2e.Dirsel(s, vs)
            sections = qptest.read_ini(w.ini)
            sections["Set1"].update(ServerName=SERVER, Username="anonymous", UseTLS="1",
                                    Password=scrambled(s, PASSWORD))
            qptest.write_ini(w.ini, sections)
            w.start()
            w.wait_list(["upload"], "upload")
            w.double_click_item(0)
            w.wait_list(["..", "sub1", "sub2"], "sub1", label="ftp://localhost/upload/")
            w.new_folder("neu")
            w.wait_list(["..", "neu", "sub1", "sub2"], "neu")
            self.assertTrue(os.path.isdir(os.path.join(vs.upload, "neu")))
            w.click_item(1)
            w.key("Delete")
            self.assertEqual(s.answer("Achtung:", qptest.IDYES, LIMIT),
                             'Soll der Ordner "neu" wirklich gelöscht werden?')
            w.wait_list(["..", "sub1", "sub2"])
            self.assertFalse(os.path.exists(os.path.join(vs.upload, "neu")))
            w.key("Return")
            self.assertEqual(w.wait_end(), 0)
            self.assertEqual(read(os.path.join(vs.upload, "Mein_Bild.txt")), b"picture data")
            self.assertEqual(s.clipboard(), b"http://www.example.com/upload/Mein_Bild.txt")
            for command in ("LIST", "MKD neu", "RMD neu"):
                self.assertIn(command, vs.commands())

    def test_session_reuse_required_is_named(self):
        # Wine's Schannel resumes no session, so vsftpd refuses the data
        # connection; the box says why instead of a bare failure.
        with self.session() as s, self.vsftpd(s, None, "require_ssl_reuse=YES") as vs:
            u = self.upload(s, vs, PassiveMode=1)
            s.clear_clipboard()
            p = u.start([u.file("a.txt", b"refused")])
            text = s.answer("Fehler:", qptest.IDOK, LIMIT)
            self.assertEqual(text, "Der Server verlangt für jede Datenverbindung die Wiederaufnahme der "
                                   "TLS-Sitzung der Anmeldung; sie ist nicht gelungen.\r\n\r\nServer: localhost\r\n"
                                   "Antwort: 522 SSL connection failed: session reuse required\r\n\r\n"
                                   "Der Upload ist fehlgeschlagen!\r\n\r\na.txt")
            self.assertEqual(s.wait_exit(p, LIMIT), 0)
            self.assertIsNone(s.clipboard())
            self.assertEqual(vs.commands().count("STOR a.txt"), 1)  # refused once, not tried again

    # -- refusals: a box with the reason, nothing sent ------------------------
    def test_refusals(self):
        untrusted, wrong_name, expired = (self.ca.self_signed(SERVER),
                                          self.ca.server("other.example", names=["DNS:other.example"]),
                                          self.ca.expired(SERVER))
        nothing = "\r\n\r\nEs wurde nichts übertragen."
        cases = [
            ("self-signed", untrusted, True, "Das Zertifikat des Servers ist nicht vertrauenswürdig.\r\n\r\n"
             "Zertifikat: O=Quillpost Tests, CN=localhost" + nothing),
            ("wrong name", wrong_name, True, "Das Zertifikat des Servers gilt nicht für den Namen localhost."
             "\r\n\r\nZertifikat: O=Quillpost Tests, CN=other.example" + nothing),
            ("expired", expired, True, "Das Zertifikat des Servers ist abgelaufen.\r\n\r\n"
             "Zertifikat: O=Quillpost Tests, CN=localhost" + nothing),
            ("no AUTH TLS", None, False,
             "Der Server localhost bietet keine verschlüsselte Verbindung (FTPS) an." + nothing),
        ]
        for what, cert_key, tls, text in cases:
            with self.subTest(what), self.session(what.replace(" ", "-")) as s, self.vsftpd(s, cert_key, tls=tls) as vs:
                u = self.upload(s, vs)
                s.clear_clipboard()
                p = u.start([u.file("a.txt", b"must not arrive")])
                self.assertEqual(s.answer("Fehler:", qptest.IDOK, LIMIT), text)
                s.wait_exit(p, LIMIT)
                self.assertEqual(os.listdir(vs.upload), [])
                self.assertEqual(u.getsize_log(), [])
                self.assertIsNone(s.clipboard())
                cmds = vs.commands()
                self.assertIn("AUTH TLS", cmds)
                self.assertFalse([c for c in cmds if c.startswith("USER")], cmds)


if __name__ == "__main__":
    unittest.main()
