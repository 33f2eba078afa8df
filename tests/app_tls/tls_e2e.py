"""End-to-end runs of FTPS, explicit (AUTH TLS) and implicit: the real
Quillpost.exe under Wine against vsftpd that requires TLS for the login and
for every data connection. A test CA, trusted through the machine's store
while the class runs, signs the server certificates. Self-signed, wrongly
named and expired certificates meet the trust question (its fingerprint as
openssl prints it); a trusted one is pinned in the configuration, and
another certificate then is refused as changed. Refusals: a server without
TLS, implicit FTPS against a plain greeting, a server that insists on
resumed TLS sessions.

The server name is "localhost": Wine's crypt32 matches only host names, not
IP addresses, against a certificate's names.

Wine's Schannel cannot resume TLS sessions, so these servers run with
require_ssl_reuse=NO; Windows' Schannel resumes the control connection's
session on the data connections by itself (same credentials, same name).

    tls_e2e.py [Ftps.test_name]
"""
import datetime
import os
import shutil
import signal
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "app_dirsel"))
sys.path.insert(0, os.path.join(HERE, "..", "getsize"))
import qptest  # noqa: E402
import tlscerts  # noqa: E402
from uploads import STANDIN, Run, payload, read, scrambled  # noqa: E402
import dirsel_e2e  # noqa: E402
import getsize_e2e  # noqa: E402

SERVER = "localhost"
PASSWORD = "Geheim-Kennwort-7"
LIMIT = 60


UNTRUSTED = " - Es ist von keiner bekannten Stelle ausgestellt (zum Beispiel selbst signiert)."
EXPIRED = " - Es ist abgelaufen."
WRONG_NAME = " - Es gilt nicht für den Namen localhost."
TESTS = "O=Quillpost Tests, CN=localhost"
TEST_CA = "O=Quillpost Tests, CN=Quillpost Test CA"
NOTHING = "\r\n\r\nEs wurde nichts übertragen."


def openssl_x509(cert, *options):
    return subprocess.run(["openssl", "x509", "-in", cert, "-noout"] + list(options), check=True,
                          capture_output=True, timeout=30, text=True).stdout.strip()


def fingerprint(cert):
    """The SHA-256 fingerprint as `openssl x509 -fingerprint -sha256` prints it."""
    return openssl_x509(cert, "-fingerprint", "-sha256").split("=", 1)[1]


def validity(cert):
    """"DD.MM.YYYY bis DD.MM.YYYY" of the certificate's notBefore and notAfter (UTC)."""
    dates = dict(line.split("=", 1) for line in openssl_x509(cert, "-startdate", "-enddate").splitlines())
    day = lambda t: datetime.datetime.strptime(" ".join(t.split()), "%b %d %H:%M:%S %Y GMT")  # noqa: E731
    return "%s bis %s" % (day(dates["notBefore"]).strftime("%d.%m.%Y"), day(dates["notAfter"]).strftime("%d.%m.%Y"))


def question(subject, issuer, cert, reasons):
    """The trust question for a certificate, with its reasons' lines."""
    return ("Der Server localhost zeigt ein Zertifikat, dem nicht ohne Weiteres vertraut werden kann:\r\n" +
            "\r\n".join(reasons) + "\r\n\r\nZertifikat: " + subject + "\r\nAussteller: " + issuer +
            "\r\nGültig vom " + validity(cert) + "\r\nSHA-256-Fingerabdruck:\r\n" + fingerprint(cert) +
            "\r\n\r\nVergleichen Sie den Fingerabdruck mit dem, den der Betreiber des Servers nennt.\r\n"
            "Soll diesem Zertifikat für diese Konfiguration ab jetzt vertraut werden?\r\n\r\n"
            "Bei \"Nein\" wird nichts übertragen.")


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

    def vsftpd(self, s, cert_key=None, *more, tls=True, folder="vs"):
        cert, key = cert_key or self.good
        return qptest.Vsftpd(os.path.join(s.dir, folder),
                             extra=tls_lines(cert, key, *more) if tls else ["xferlog_enable=YES"])

    def capture(self, s, vs):
        """What crosses the control and data connections of `vs`."""
        return Capture(s.dir, "tcp port %d or tcp portrange %d-%d" % (vs.port, vs.pasv[0], vs.pasv[1]))

    def upload(self, s, vs, name="run", **keys):
        u = Run(s, name, getsize=qptest.exe("getsize.exe") if keys.pop("getsize", False) else STANDIN)
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
                with self.capture(s, vs) as cap:
                    p = u.start(paths)
                    # Progress comes from SIZE on the window's own TLS connection.
                    getsize_e2e.Window(s, LIMIT).wait_pos(1, LIMIT)
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

    # -- certificates Windows does not trust: asked once, then pinned ------------
    def test_first_use(self):
        self_signed = self.ca.self_signed(SERVER)
        wrong_name = self.ca.server("other.example", names=["DNS:other.example"])
        expired = self.ca.expired(SERVER)
        rows = [
            # what, certificate, subject, issuer, reasons, answer, refusal after No
            ("self-signed No", self_signed, TESTS, TESTS, [UNTRUSTED], qptest.IDNO,
             "Das Zertifikat des Servers ist nicht vertrauenswürdig.\r\n\r\nZertifikat: " + TESTS + NOTHING),
            ("self-signed Yes", self_signed, TESTS, TESTS, [UNTRUSTED], qptest.IDYES, None),
            ("expired No", expired, TESTS, TEST_CA, [EXPIRED], qptest.IDNO,
             "Das Zertifikat des Servers ist abgelaufen.\r\n\r\nZertifikat: " + TESTS + NOTHING),
            ("wrong name Yes", wrong_name, "O=Quillpost Tests, CN=other.example", TEST_CA, [WRONG_NAME],
             qptest.IDYES, None),
        ]
        for what, cert_key, subject, issuer, reasons, answer, refusal in rows:
            with self.subTest(what), self.session(what.replace(" ", "-")) as s, self.vsftpd(s, cert_key) as vs:
                u = self.upload(s, vs)
                s.clear_clipboard()
                p = u.start([u.file("a.txt", b"first use")])
                # Before any login, with the fingerprint as openssl prints it.
                self.assertEqual(s.answer("Achtung:", answer, LIMIT), question(subject, issuer, cert_key[0], reasons))
                if answer == qptest.IDNO:
                    self.assertEqual(s.answer("Fehler:", qptest.IDOK, LIMIT), refusal)
                    self.assertEqual(s.wait_exit(p, LIMIT), 0)
                    self.assertEqual(os.listdir(vs.upload), [])
                    self.assertNotIn("TrustedCertificate", u.section())
                    self.assertFalse([c for c in vs.commands() if c.startswith("USER")])
                    self.assertIsNone(s.clipboard())
                else:
                    self.assertEqual(s.wait_exit(p, LIMIT), 0)
                    self.assertEqual(read(os.path.join(vs.upload, "a.txt")), b"first use")
                    self.assertEqual(u.section()["TrustedCertificate"], fingerprint(cert_key[0]))
                    self.assertEqual(s.clipboard(), b"http://www.example.com/files/a.txt")
                    # The next run does not ask: a question would hold it up.
                    self.assertEqual(u.run([u.file("b.txt", b"known")], LIMIT), 0)
                    self.assertEqual(read(os.path.join(vs.upload, "b.txt")), b"known")

    def test_trusted_certificate_pinned_and_changed(self):
        first = self.ca.self_signed(SERVER)
        kept = tuple(shutil.copy(f, f + ".first") for f in first)
        second = self.ca.self_signed(SERVER)  # a new key under the same name
        self.assertNotEqual(fingerprint(kept[0]), fingerprint(second[0]))
        with self.session() as s:
            # Pinned: no question; the upload window's own connection takes
            # the same certificate (two logins, SIZE from the window).
            with self.vsftpd(s, kept, "anon_max_rate=1500000") as vs:
                u = self.upload(s, vs, PassiveMode=1, TrustedCertificate=fingerprint(kept[0]), getsize=True)
                data = payload("pinned-", 3 * 1024 * 1024)
                s.clear_clipboard()
                p = u.start([u.file("gross.bin", data)])
                getsize_e2e.Window(s, LIMIT).wait_pos(1, LIMIT)
                self.assertEqual(s.wait_exit(p, LIMIT), 0)
                self.assertEqual(read(os.path.join(vs.upload, "gross.bin")), data)
                self.assertEqual(s.clipboard(), b"http://www.example.com/files/gross.bin")
                cmds = vs.commands()
                self.assertEqual(cmds.count("USER anonymous"), 2, cmds)
                self.assertIn("SIZE gross.bin", cmds)
            # Changed: refused with both fingerprints, nothing sent.
            with self.vsftpd(s, second, folder="vs2") as vs:
                u = self.upload(s, vs, "changed", TrustedCertificate=fingerprint(kept[0]))
                s.clear_clipboard()
                p = u.start([u.file("c.txt", b"must not arrive")])
                self.assertEqual(s.answer("Fehler:", qptest.IDOK, LIMIT),
                                 "Das Zertifikat des Servers localhost hat sich geändert.\r\n\r\n"
                                 "Vertraut: %s\r\nJetzt: %s\r\nZertifikat: %s\r\n\r\n"
                                 "Das kann ein erneuertes Zertifikat sein, aber auch ein anderer Server, der sich "
                                 "als dieser ausgibt. Hat der Betreiber das Zertifikat erneuert, entfernen Sie das "
                                 "vertraute Zertifikat in der Konfiguration; beim nächsten Upload werden Sie dann "
                                 "gefragt." % (fingerprint(kept[0]), fingerprint(second[0]), TESTS) + NOTHING)
                self.assertEqual(s.wait_exit(p, LIMIT), 0)
                self.assertEqual(os.listdir(vs.upload), [])
                self.assertEqual(u.getsize_log(), [])
                self.assertEqual(vs.commands(), ["AUTH TLS"])
                self.assertEqual(u.section()["TrustedCertificate"], fingerprint(kept[0]))
                self.assertIsNone(s.clipboard())

    def test_reconnection_keeps_the_trust(self):
        # The server closes the idle connection while the overwrite question
        # is open; the run signs on again and must take the pinned
        # self-signed certificate again, without asking.
        cert_key = self.ca.self_signed(SERVER)
        with self.session() as s, self.vsftpd(s, cert_key, "idle_session_timeout=2") as vs:
            vs.put("upload/a.txt", b"older copy")
            u = self.upload(s, vs, Ask=1, TrustedCertificate=fingerprint(cert_key[0]))
            p = u.start([u.file("a.txt", b"newer copy")])
            box = s.wait_box("Achtung:", LIMIT)
            self.assertEqual(s.box_text(box), "Soll die Datei a.txt überschrieben werden?")
            # Under TLS vsftpd ends an idle session without its 421 line.
            with open(os.path.join(vs.workdir, "vsftpd.log"), "rb") as log:
                qptest.wait_until(lambda: b"Control connection terminated" in (log.seek(0) or log.read()), LIMIT,
                                  "the server's idle timeout")
            s.press(box, qptest.IDYES)
            self.assertEqual(s.wait_exit(p, LIMIT), 0)
            self.assertEqual(read(os.path.join(vs.upload, "a.txt")), b"newer copy")
            cmds = vs.commands()
            self.assertEqual(cmds.count("USER anonymous"), 2, cmds)
            self.assertEqual(cmds.count("AUTH TLS"), 2, cmds)

    def test_implicit_two_files(self):
        # Slow enough for the upload window to show the second file's growth
        # over its own implicit-FTPS connection.
        with self.session() as s, self.vsftpd(s, None, "implicit_ssl=YES", "anon_max_rate=1500000") as vs:
            u = self.upload(s, vs, UseTLS=2, PassiveMode=1, getsize=True)
            datas = [payload("implizit-eins-", 40000), payload("implizit-zwei-", 3 * 1024 * 1024)]
            s.clear_clipboard()
            with self.capture(s, vs) as cap:
                p = u.start([u.file(n, d) for n, d in zip(["eins.txt", "zwei.txt"], datas)])
                getsize_e2e.Window(s, LIMIT).wait_pos(1, LIMIT)
                self.assertEqual(s.wait_exit(p, LIMIT), 0)
            self.assertEqual([read(os.path.join(vs.upload, n)) for n in ("eins.txt", "zwei.txt")], datas)
            self.assertEqual(s.clipboard(), b"http://www.example.com/files/eins.txt\r\n"
                                            b"http://www.example.com/files/zwei.txt")
            wire = cap.data()
            # Not even the greeting crosses in the clear.
            for clear in (b"220 ", b"AUTH TLS", b"USER ", b"PROT P", b"implizit-eins-implizit"):
                self.assertNotIn(clear, wire, clear)
            cmds = vs.commands()
            self.assertIn("PROT P", cmds)
            self.assertNotIn("AUTH TLS", cmds)
            self.assertEqual(cmds.count("USER anonymous"), 2, cmds)  # the upload window's connection too

    # -- refusals: a box with the reason, nothing sent ------------------------
    def test_refusals(self):
        cases = [
            ("no AUTH TLS", False, 1,
             "Der Server localhost bietet keine verschlüsselte Verbindung (FTPS) an." + NOTHING, ["AUTH TLS"]),
            # Implicit FTPS against a server that greets in the clear.
            ("implicit to a plain greeting", True, 2,
             "Die verschlüsselte Verbindung zum Server localhost konnte nicht aufgebaut werden." + NOTHING, []),
        ]
        for what, tls, use_tls, text, sent in cases:
            with self.subTest(what), self.session(what.replace(" ", "-")) as s, \
                    self.vsftpd(s, None, tls=tls) as vs:
                u = self.upload(s, vs, UseTLS=use_tls)
                s.clear_clipboard()
                p = u.start([u.file("a.txt", b"must not arrive")])
                self.assertEqual(s.answer("Fehler:", qptest.IDOK, LIMIT), text)
                s.wait_exit(p, LIMIT)
                self.assertEqual(os.listdir(vs.upload), [])
                self.assertEqual(u.getsize_log(), [])
                self.assertIsNone(s.clipboard())
                self.assertEqual([c for c in vs.commands() if c in sent or c.startswith("USER")], sent)


if __name__ == "__main__":
    unittest.main()
