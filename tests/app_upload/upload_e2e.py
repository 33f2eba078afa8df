"""End-to-end upload runs: the real Quillpost.exe under Wine, started like
the Send-To shortcut does (configuration number, file paths), against real
FTP servers on 127.0.0.1. Each case has its own session, servers, ports and
folders. A stand-in getsize.exe next to Quillpost.exe records the command
line and the channel texts it receives.

    upload_e2e.py Class.test_name    (one case; ctest runs them in parallel)
"""
import contextlib
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402

STANDIN = os.path.join(qptest.BUILD, "tests", "app_upload", "standin", "getsize.exe")
WWW = "www.example.com"
RUN_LIMIT = 60  # seconds a run may take before the test fails


class Upload:
    """One configuration in a base folder, Quillpost.exe with the stand-in
    getsize.exe in a program folder, and local files to send."""

    def __init__(self, session, name="run"):
        self.s = session
        self.dir = os.path.join(session.dir, name)
        self.prog = os.path.join(self.dir, "prog")
        self.base = os.path.join(self.dir, "base")
        self.local = os.path.join(self.dir, "local")
        for d in (self.prog, self.base, self.local):
            os.makedirs(d)
        shutil.copy(qptest.exe("Quillpost.exe"), self.prog)
        shutil.copy(STANDIN, self.prog)
        self.ini = os.path.join(self.base, "Quillpost.ini")

    def configure(self, ftpd, password="pass", **keys):
        """Section Set1 for the server `ftpd` (a fixture, or a port number)."""
        port = ftpd if isinstance(ftpd, int) else ftpd.port
        section = {"ServerName": "127.0.0.1", "ServerPort": str(port), "Username": "user",
                   "Password": scrambled(self.s, password), "ServerDirectory": "",
                   "ServerWWWName": WWW, "ServerWWWDirectory": "/files/", "PassiveMode": "1",
                   "UseClipboardFunction": "1", "Ask": "0", "DirSel": "0", "DelOld": "0",
                   "DelClick": "0"}
        section.update({k: str(v) for k, v in keys.items()})
        qptest.write_ini(self.ini, {"Set1": section})

    def file(self, name, data):
        path = os.path.join(self.local, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def start(self, paths, config="1"):
        args = [config] + [qptest.Session.winpath(p) for p in paths]
        return self.s.start(os.path.join(self.prog, "Quillpost.exe"), args, cwd=self.base)

    def run(self, paths, limit=RUN_LIMIT):
        self.s.wait_exit(self.start(paths), limit)

    def finished_log(self, timeout=20):
        """The stand-in's log once it has seen the run end."""
        qptest.wait_until(lambda: "end" in self.getsize_log(), timeout, "the stand-in's end")
        return self.getsize_log()

    def section(self):
        return qptest.read_ini(self.ini).get("Set1", {})

    def history(self):
        sec = self.section()
        return [sec.get("History%d" % i, "") for i in range(1, 21)]

    def getsize_log(self):
        path = os.path.join(self.prog, "getsize.log")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return f.read().decode("cp1252").splitlines()


_scrambled = {}


def scrambled(session, password):
    """Stored form of a password, made by the program's own scrambling."""
    if password not in _scrambled:
        code, out = session.run(qptest.exe("app_upload_scramble.exe"), [password], timeout=30)
        assert code == 0, code
        _scrambled[password] = out.decode("cp1252")
    return _scrambled[password]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def payload(tag, size=2000):
    return (tag.encode() * (size // len(tag) + 1))[:size]


class _TestView:
    """A shared session seen by one test: its own folder, the rest shared."""

    def __init__(self, session, folder):
        self._session = session
        self.dir = folder

    def __getattr__(self, name):
        return getattr(self._session, name)


def empty_clipboard(s):
    """Waits until the clipboard holds no text. Under Wine here, clipboard
    text outlives the program that set it by a few seconds only, so text found
    after a run that started from an empty clipboard came from that run."""
    qptest.wait_until(lambda: s.clipboard() is None, 30, "an empty clipboard", interval=1)


class SharedSession(unittest.TestCase):
    """One Wine session for all cases of a class, run one after another;
    each case gets its own folder and servers, and its programs are ended
    after it."""

    @classmethod
    def setUpClass(cls):
        cls.shared = qptest.class_session(cls, "up-" + cls.__name__.lower())

    @contextlib.contextmanager
    def session(self):
        folder = os.path.join(self.shared.dir, self._testMethodName)
        os.makedirs(folder)
        first = len(self.shared.procs)
        try:
            yield _TestView(self.shared, folder)
        finally:
            for p in self.shared.procs[first:]:
                if p.poll() is None:
                    p.kill()
                    p.wait(5)


class Basic(unittest.TestCase):
    def test_one_file_with_blank_pyftpd(self):
        with qptest.Session("up-one") as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(os.path.join(root, "up"))
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, ServerDirectory="/up/", PassiveMode=1)
                data = payload("bild")
                u.run([u.file("Mein Bild.jpg", data)])
                self.assertEqual(read(os.path.join(root, "up", "Mein_Bild.jpg")), data)
                # "/files/" joined with "/" on both sides: the doubled slashes reduce to one.
                self.assertEqual(s.clipboard(), b"http://www.example.com/files/Mein_Bild.jpg")
                log = u.finished_log()
                self.assertRegex(log[0], r"^cmd getsize\.exe Mein_Bild\.jpg 2000 pass \d+ 1 0 \d+ up$")
                # A quick run may end before the stand-in has looked at the channel.
                self.assertEqual([l for l in log[1:] if l != "ready"], ["end"])
                cmds = ftpd.commands()
                self.assertIn("PASV", cmds)
                self.assertEqual(cmds[-1], "QUIT")

    def test_three_files(self):
        with qptest.Session("up-three") as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, PassiveMode=1, ServerWWWDirectory="pub")
                names = ["a#b.txt", "100%.txt", "plain.txt"]
                datas = [payload(n, 150000 + i) for i, n in enumerate(names)]
                u.run([u.file(n, d) for n, d in zip(names, datas)])
                for n, d in zip(names, datas):
                    self.assertEqual(read(os.path.join(root, n)), d, n)
                self.assertEqual(s.clipboard(), b"http://www.example.com/pub/a%23b.txt\r\n"
                                                b"http://www.example.com/pub/100%25.txt\r\n"
                                                b"http://www.example.com/pub/plain.txt")
                log = u.finished_log()
                self.assertRegex(log[0], r"^cmd getsize\.exe a#b\.txt 150000 pass \d+ 1 1 \d+ \?$")
                self.assertEqual(log[-1], "end")

    def test_channel_texts(self):
        # Each later file's text stays in the channel until the question for
        # the next file is answered, so the stand-in cannot miss one.
        with qptest.Session("up-channel") as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(os.path.join(root, "d"))
            for n in ("two.txt", "three.txt"):
                with open(os.path.join(root, "d", n), "wb") as f:
                    f.write(b"server copy")
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, Ask=1, ServerDirectory="d")
                p = u.start([u.file("one.txt", b"1" * 10), u.file("two.txt", b"2" * 20),
                             u.file("three.txt", b"3" * 30)])
                qptest.wait_until(lambda: "ready" in u.getsize_log(), 30, "the upload window program")
                self.assertIn("two.txt", s.answer("Achtung:", qptest.IDYES))
                qptest.wait_until(lambda: "text two.txt 20 1" in u.getsize_log(), 20, "the second text")
                self.assertIn("three.txt", s.answer("Achtung:", qptest.IDYES))
                s.wait_exit(p, RUN_LIMIT)
                log = u.finished_log()
                self.assertRegex(log[0], r"^cmd getsize\.exe one\.txt 10 pass \d+ 1 1 \d+ d$")
                self.assertEqual(log[1:], ["ready", "text two.txt 20 1", "text three.txt 30 0", "end"])
                for n, size in (("one.txt", 10), ("two.txt", 20), ("three.txt", 30)):
                    self.assertEqual(os.path.getsize(os.path.join(root, "d", n)), size)

    def test_active_mode_pyftpd(self):
        with qptest.Session("up-active") as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, PassiveMode=0)
                data = payload("active", 90000)
                u.run([u.file("act.bin", data)])
                self.assertEqual(read(os.path.join(root, "act.bin")), data)
                cmds = ftpd.commands()
                self.assertTrue(any(c.startswith("PORT ") for c in cmds), cmds)
                self.assertNotIn("PASV", cmds)

    def test_vsftpd_passive_umlaut(self):
        with qptest.Session("up-vs-pasv") as s, qptest.Vsftpd(os.path.join(s.dir, "vs")) as vs:
            u = Upload(s)
            u.configure(vs, Username="anonymous", ServerDirectory="upload", PassiveMode=1,
                        ServerWWWDirectory="")
            data = payload("gruss")
            u.run([u.file("Grüße x.txt", data)])
            self.assertEqual(read(os.path.join(vs.upload.encode(), b"Gr\xfc\xdfe_x.txt")), data)
            self.assertEqual(s.clipboard(), b"http://www.example.com/Gr%FC%DFe_x.txt")

    def test_vsftpd_active(self):
        with qptest.Session("up-vs-port") as s, qptest.Vsftpd(os.path.join(s.dir, "vs")) as vs:
            u = Upload(s)
            u.configure(vs, Username="anonymous", ServerDirectory="/upload", PassiveMode=0,
                        UseClipboardFunction=0)
            data = payload("active", 70000)
            u.run([u.file("act.bin", data)])
            self.assertEqual(read(os.path.join(vs.upload, "act.bin")), data)
            self.assertIsNone(s.clipboard())

    def test_through_proxy(self):
        with qptest.Session("up-proxy") as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with qptest.PyFtpd(root) as ftpd, qptest.ProftpdProxy(os.path.join(s.dir, "px")) as proxy:
                u = Upload(s)
                u.configure(ftpd, ProxyServer="127.0.0.1", ProxyPort=proxy.port, PassiveMode=1)
                data = payload("proxy")
                u.run([u.file("via proxy.txt", data)])
                self.assertEqual(read(os.path.join(root, "via_proxy.txt")), data)
                self.assertIn("STOR via_proxy.txt", ftpd.commands())
                self.assertEqual(s.clipboard(), b"http://www.example.com/files/via_proxy.txt")

    def test_folder_selection_address(self):
        # With DirSel on, the address uses the chosen server folder.
        with qptest.Session("up-dirsel") as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(os.path.join(root, "pub", "pics"))
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, DirSel=1, ServerDirectory="/pub/pics/", ServerWWWDirectory="/files/")
                p = u.start([u.file("Foto 1.jpg", b"jpeg")])
                win = s.wait_window("Quillpost 1.2 - Ordnerauswahl")
                button = [c for c in s.children(win) if c[5].startswith("Upload")]
                self.assertEqual(len(button), 1)
                # A click that lands before the window's loop waits is not
                # seen, as for a user; click again until the window goes.
                def clicked():
                    if p.poll() is None and s.find_window("Quillpost 1.2 - Ordnerauswahl"):
                        s.winctl("click", button[0][0], check=False)
                        return False
                    return True
                qptest.wait_until(clicked, RUN_LIMIT, "the upload to start", interval=2)
                s.wait_exit(p, RUN_LIMIT)
                self.assertEqual(read(os.path.join(root, "pub", "pics", "Foto_1.jpg")), b"jpeg")
                self.assertEqual(s.clipboard(), b"http://www.example.com/pub/pics/Foto_1.jpg")
                self.assertRegex(u.finished_log()[0], r" pub/pics$")


class Ask(SharedSession):
    def test_yes_overwrites(self):
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with open(os.path.join(root, "a.txt"), "wb") as f:
                f.write(b"old content")
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, Ask=1)
                p = u.start([u.file("a.txt", b"new content")])
                text = s.answer("Achtung:", qptest.IDYES)
                self.assertEqual(text, "Soll die Datei a.txt überschrieben werden?")
                s.wait_exit(p, RUN_LIMIT)
                self.assertEqual(read(os.path.join(root, "a.txt")), b"new content")
                self.assertEqual(s.clipboard(), b"http://www.example.com/files/a.txt")

    def test_no_ends_run_and_leaves_clipboard(self):
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with open(os.path.join(root, "y.txt"), "wb") as f:
                f.write(b"server copy")
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, Ask=1, DelOld=1, History1="old.txt")
                paths = [u.file("x.txt", b"first"), u.file("y.txt", b"second"), u.file("z.txt", b"third")]
                empty_clipboard(s)
                p = u.start(paths)
                s.answer("Achtung:", qptest.IDNO)
                s.wait_exit(p, RUN_LIMIT)
                self.assertEqual(read(os.path.join(root, "x.txt")), b"first")
                self.assertEqual(read(os.path.join(root, "y.txt")), b"server copy")
                self.assertFalse(os.path.exists(os.path.join(root, "z.txt")))
                # Addresses go into the clipboard only after the last file.
                self.assertIsNone(s.clipboard())
                self.assertEqual(u.history()[:2], ["x.txt", ""])
                cmds = ftpd.commands()
                self.assertEqual(cmds[-1], "QUIT")
                self.assertNotIn("STOR y.txt", cmds)

    def test_size_zero_asks_nothing_and_ask_2_is_off(self):
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            open(os.path.join(root, "empty.txt"), "wb").close()
            with open(os.path.join(root, "full.txt"), "wb") as f:
                f.write(b"server copy")
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, Ask=1)
                u.run([u.file("empty.txt", b"now filled")])  # a question would hang the run
                self.assertEqual(read(os.path.join(root, "empty.txt")), b"now filled")
                self.assertIn("SIZE empty.txt", ftpd.commands())

                u2 = Upload(s, "ask2")
                u2.configure(ftpd, Ask=2)
                u2.run([u2.file("full.txt", b"replaced")])
                self.assertEqual(read(os.path.join(root, "full.txt")), b"replaced")
                # No question asked: the only SIZE is the check after the STOR.
                cmds = ftpd.commands()
                self.assertNotIn("SIZE full.txt", cmds[:cmds.index("STOR full.txt")])


class History(SharedSession):
    def server(self, s, names):
        root = os.path.join(s.dir, "srv")
        os.makedirs(root)
        for n in names:
            with open(os.path.join(root, n), "wb") as f:
                f.write(n.encode())
        return root

    def test_keep_one_deletes_all_recorded(self):
        with self.session() as s:
            root = self.server(s, ["h1.txt", "h2.txt", "h3.txt", "foreign.txt"])
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, DelOld=1, History1="h1.txt", History2="h2.txt", History3="h3.txt")
                u.run([u.file("R.txt", b"R")])
                self.assertEqual(sorted(os.listdir(root)), ["R.txt", "foreign.txt"])
                self.assertEqual(u.history(), ["R.txt"] + [""] * 19)

    def test_keep_three_over_a_run_of_three(self):
        with self.session() as s:
            root = self.server(s, ["a", "b", "c", "d", "e"])
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, DelOld=3, History1="a", History2="b", History3="c", History4="d",
                            History5="e")
                u.run([u.file("R1", b"1")])
                self.assertEqual(sorted(os.listdir(root)), ["R1", "a", "b"])
                self.assertEqual(u.history()[:4], ["R1", "a", "b", ""])
                # The next run builds on what this one wrote.
                u.run([u.file("R2", b"2"), u.file("R3", b"3")])
                self.assertEqual(sorted(os.listdir(root)), ["R1", "R2", "R3"])
                self.assertEqual(u.history()[:4], ["R3", "R2", "R1", ""])
                self.assertEqual(u.section().get("Protect", ""), "")

    def test_name_already_in_history_2(self):
        with self.session() as s:
            root = self.server(s, ["a", "R", "c", "d"])
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, DelOld=3, History1="a", History2="R", History3="c", History4="d")
                u.run([u.file("R", b"new R")])
                self.assertEqual(read(os.path.join(root, "R")), b"new R")
                # Three files stay: the upload and the two newest others.
                self.assertEqual(sorted(os.listdir(root)), ["R", "a", "c"])
                self.assertEqual(u.history()[:4], ["R", "a", "c", ""])
                self.assertNotIn("DELE R", ftpd.commands())

    def test_keep_one_over_a_run_of_three(self):
        # Every file of the run stays, and so does "Eins.TXT", recorded by an
        # earlier run: a case-blind server would take it for "eins.txt".
        with self.session() as s:
            root = self.server(s, ["old.txt", "Eins.TXT"])
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, DelOld=1, History1="old.txt", History2="Eins.TXT", ServerWWWDirectory="")
                names = ["eins.txt", "zwei.txt", "drei.txt"]
                u.run([u.file(n, n.encode()) for n in names])
                self.assertEqual(sorted(os.listdir(root)), sorted(names + ["Eins.TXT"]))
                for n in names:
                    self.assertEqual(read(os.path.join(root, n)), n.encode())
                self.assertEqual(u.history()[:4], ["drei.txt", "zwei.txt", "eins.txt", ""])
                self.assertEqual([c for c in ftpd.commands() if c.startswith("DELE")], ["DELE old.txt"])
                self.assertEqual(s.clipboard(), b"\r\n".join(b"http://www.example.com/" + n.encode()
                                                              for n in names))
                # The next run keeps one again: this run's files are older then.
                u.run([u.file("vier.txt", b"4")])
                self.assertEqual(sorted(os.listdir(root)), ["Eins.TXT", "vier.txt"])

    def test_protect_and_delclick(self):
        # (DelClick, Protect) -> recorded?, Protect afterwards
        cases = [(0, "1", False, "0"), (0, "0", True, "0"), (1, "0", False, "0"), (1, "1", True, "1")]
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with qptest.PyFtpd(root) as ftpd:
                for i, (delclick, protect, recorded, after) in enumerate(cases):
                    with self.subTest(DelClick=delclick, Protect=protect):
                        for n in ("old1", "old2"):
                            with open(os.path.join(root, n), "wb") as f:
                                f.write(b"x")
                        u = Upload(s, "case%d" % i)
                        u.configure(ftpd, DelOld=1, DelClick=delclick, Protect=protect,
                                    History1="old1", History3="old2")
                        name = "new%d" % i
                        u.run([u.file(name, b"n")])
                        self.assertTrue(os.path.exists(os.path.join(root, name)))
                        if recorded:
                            self.assertEqual(u.history()[:2], [name, ""])
                            self.assertFalse(os.path.exists(os.path.join(root, "old1")))
                            self.assertFalse(os.path.exists(os.path.join(root, "old2")))
                        else:
                            self.assertEqual(u.history()[:3], ["old1", "old2", ""])
                            self.assertTrue(os.path.exists(os.path.join(root, "old1")))
                            self.assertTrue(os.path.exists(os.path.join(root, "old2")))
                        self.assertEqual(u.section()["Protect"], after)
                        os.remove(os.path.join(root, name))


class Failures(SharedSession):
    def test_unreachable_server(self):
        with self.session() as s:
            u = Upload(s)
            u.configure(qptest.free_port())  # nothing listens there
            empty_clipboard(s)
            started = time.monotonic()
            p = u.start([u.file("a.txt", b"a")])
            text = s.answer("Fehler:", qptest.IDOK, timeout=50)
            self.assertEqual(text, "Es konnte keine Verbindung zum Server aufgebaut werden!")
            self.assertGreater(time.monotonic() - started, 9.5)  # fifty probes 200 ms apart
            s.wait_exit(p, 20)
            self.assertEqual(u.getsize_log(), [])
            self.assertIsNone(s.clipboard())

    def test_missing_directory(self):
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, ServerDirectory="/nosuch/")
                p = u.start([u.file("a.txt", b"a")])
                text = s.answer("Fehler:", qptest.IDOK)
                self.assertEqual(text, "Das angebene Verzeichnis existiert nicht!\r\n\r\nnosuch")
                s.wait_exit(p, 30)
                cmds = ftpd.commands()
                self.assertEqual(cmds[-1], "QUIT")
                self.assertFalse(any(c.startswith("STOR") for c in cmds))
                self.assertEqual(os.listdir(root), [])

    def test_empty_directory_is_no_failure(self):
        # An empty ServerDirectory that cannot be entered is no failure.
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, ServerDirectory="/")
                u.run([u.file("a.txt", b"a")])
                self.assertEqual(read(os.path.join(root, "a.txt")), b"a")
                self.assertRegex(u.finished_log()[0], r" \?$")

    def test_upload_refused_three_times(self):
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(os.path.join(root, "blocked.txt"))  # STOR onto a folder fails
            with open(os.path.join(root, "old.txt"), "wb") as f:
                f.write(b"old")
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, DelOld=1, History1="old.txt")
                empty_clipboard(s)
                p = u.start([u.file("ok.txt", b"ok"), u.file("blocked.txt", b"never")])
                started = time.monotonic()
                text = s.answer("Fehler:", qptest.IDOK, timeout=40)
                self.assertEqual(text, "Der Upload ist fehlgeschlagen!\r\n\r\nblocked.txt")
                self.assertGreater(time.monotonic() - started, 6.0)  # two pauses of 3.3 s
                s.wait_exit(p, 30)
                self.assertEqual([c for c in ftpd.commands() if c.startswith("STOR")],
                                 ["STOR ok.txt"] + ["STOR blocked.txt"] * 3)
                # A stand-in left running would write "end" as soon as the
                # run's window is gone; give it time to show that it did not.
                time.sleep(1.0)
                log = u.getsize_log()
                # Terminated by the run: no "end".
                self.assertEqual([l for l in log[1:] if l != "ready"], ["text blocked.txt 5 0"])
                self.assertIsNone(s.clipboard())
                self.assertEqual(u.history()[:2], ["ok.txt", ""])  # only the stored file

    def test_clipboard_held_by_another_program(self):
        # Another program keeps the clipboard open for 5 s from just before
        # the upload: the run tries for about 2 s, then shows the addresses.
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with open(os.path.join(root, "a.txt"), "wb") as f:
                f.write(b"old")
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd, Ask=1)
                empty_clipboard(s)
                p = u.start([u.file("a.txt", b"new"), u.file("b c.txt", b"b")])
                # The question holds the run until the clipboard is taken.
                box = s.wait_box("Achtung:")
                out_path = os.path.join(s.dir, "holder.out")
                with open(out_path, "wb") as out:
                    holder = subprocess.Popen([qptest.WINE_RUN, qptest.exe("winctl.exe"), "holdclip", "5000"],
                                              env=s.env, stdin=subprocess.DEVNULL, stdout=out,
                                              stderr=subprocess.STDOUT)
                s.procs.append(holder)
                qptest.wait_until(lambda: b"held" in read(out_path), 30, "the clipboard held")
                answered = time.monotonic()
                s.press(box, qptest.IDYES)
                text = s.answer("Fehler:", qptest.IDOK, timeout=30)
                waited = time.monotonic() - answered
                self.assertEqual(text, "Die Adressen konnten nicht in die Zwischenablage kopiert werden!\r\n\r\n"
                                       "http://www.example.com/files/a.txt\r\n"
                                       "http://www.example.com/files/b_c.txt")
                self.assertGreater(waited, 1.9)
                s.wait_exit(p, 30)
                self.assertEqual(holder.wait(30), 0)
                self.assertEqual(read(os.path.join(root, "b_c.txt")), b"b")
                self.assertEqual(ftpd.commands()[-1], "QUIT")
                self.assertIsNone(s.clipboard())

    def test_missing_local_file(self):
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                u.configure(ftpd)
                missing = os.path.join(u.local, "gone.txt")
                p = u.start([missing])
                text = s.answer("Zeilennummer nicht verfügbar.", qptest.IDOK)
                self.assertEqual(text, "Datei nicht gefunden: " + qptest.Session.winpath(missing))
                text = s.answer("Fehler:", qptest.IDOK, timeout=40)
                self.assertEqual(text, "Der Upload ist fehlgeschlagen!\r\n\r\ngone.txt")
                s.wait_exit(p, 30)
                self.assertRegex(u.getsize_log()[0], r"^cmd getsize\.exe gone\.txt -1 pass ")
                self.assertEqual(os.listdir(root), [])


def utf8_commands(ftpd):
    """Commands pyftpdlib received, decoded as it decodes them (UTF-8; bytes
    that are no UTF-8 show as U+FFFD)."""
    with open(ftpd.log, "rb") as f:
        return [l.split(b"<- ", 1)[1].strip().decode("utf-8", "replace")
                for l in f.read().splitlines() if b"<- " in l]


class Utf8Names(SharedSession):
    NAMES = ["Bäume.txt", "Grüße 2026.jpg"]
    STORED = ["Bäume.txt", "Grüße_2026.jpg"]

    def test_utf8_server_names_addresses_upload_window_and_history(self):
        with self.session() as s:
            root = os.path.join(s.dir, "srv")
            os.makedirs(root)
            with open(os.path.join(root, "Grüße_2026.jpg"), "wb") as f:
                f.write(b"old")
            with qptest.PyFtpd(root) as ftpd:
                u = Upload(s)
                # The real upload window: its own connection polls SIZE.
                shutil.copy(qptest.exe("getsize.exe"), u.prog)
                u.configure(ftpd, Ask=1, DelOld=1)
                datas = [payload("baum"), payload("gruss")]
                p = u.start([u.file(n, d) for n, d in zip(self.NAMES, datas)])
                # Asked only because SIZE found the file under its UTF-8 name.
                box = s.wait_box("Achtung:")
                self.assertEqual(s.box_text(box), "Soll die Datei Grüße_2026.jpg überschrieben werden?")
                # The run asked SIZE of the first file once; the upload window asks again.
                qptest.wait_until(lambda: utf8_commands(ftpd).count("SIZE Bäume.txt") >= 2, 30,
                                  "the upload window's SIZE of the first file")
                s.press(box, qptest.IDYES)
                s.wait_exit(p, RUN_LIMIT)
                self.assertEqual(sorted(os.listdir(root)), sorted(self.STORED))
                for n, d in zip(self.STORED, datas):
                    self.assertEqual(read(os.path.join(root, n)), d)
                self.assertEqual(s.clipboard(), b"http://www.example.com/files/B%C3%A4ume.txt\r\n"
                                                b"http://www.example.com/files/Gr%C3%BC%C3%9Fe_2026.jpg")
                cmds = utf8_commands(ftpd)
                self.assertEqual(cmds[cmds.index("PASS ******") + 1:][:2], ["FEAT", "OPTS UTF8 ON"])
                self.assertIn("STOR Grüße_2026.jpg", cmds)
                self.assertFalse([c for c in cmds if "\ufffd" in c], cmds)
                # The history holds the program's names; the next run deletes
                # both files under their UTF-8 names.
                self.assertEqual(u.history()[:3], ["Grüße_2026.jpg", "Bäume.txt", ""])
                u.run([u.file("danach.txt", b"x")])
                self.assertEqual(os.listdir(root), ["danach.txt"])
                self.assertIn("DELE Bäume.txt", utf8_commands(ftpd))

    def test_server_without_utf8_gets_code_page_bytes(self):
        # vsftpd without utf8_filesystem lists no UTF8 in its FEAT reply.
        with self.session() as s, qptest.Vsftpd(os.path.join(s.dir, "vs")) as vs:
            u = Upload(s)
            u.configure(vs, Username="anonymous", ServerDirectory="upload", ServerWWWDirectory="")
            datas = [payload("baum"), payload("gruss")]
            u.run([u.file(n, d) for n, d in zip(self.NAMES, datas)])
            self.assertEqual(sorted(os.listdir(vs.upload.encode())), [b"B\xe4ume.txt", b"Gr\xfc\xdfe_2026.jpg"])
            self.assertEqual(read(os.path.join(vs.upload.encode(), b"B\xe4ume.txt")), datas[0])
            self.assertEqual(s.clipboard(), b"http://www.example.com/B%E4ume.txt\r\n"
                                            b"http://www.example.com/Gr%FC%DFe_2026.jpg")


class Serialised(unittest.TestCase):
    def test_second_run_waits_for_first(self):
        with qptest.Session("up-two") as s:
            root_a = os.path.join(s.dir, "srv-a")
            root_b = os.path.join(s.dir, "srv-b")
            os.makedirs(root_a)
            os.makedirs(os.path.join(root_b, "in"))
            with open(os.path.join(root_a, "a1.bin"), "wb") as f:
                f.write(b"server copy")
            with qptest.PyFtpd(root_a) as ftpd_a, qptest.PyFtpd(root_b) as ftpd_b:
                a = Upload(s, "a")
                a.configure(ftpd_a, Ask=1, UseClipboardFunction=0)
                b = Upload(s, "b")
                b.configure(ftpd_b, UseClipboardFunction=0, ServerDirectory="in")
                da = [payload("a1", 300000), payload("a2", 300000)]
                db = [payload("b1", 300000), payload("b2", 300000)]
                pa = a.start([a.file("a1.bin", da[0]), a.file("a2.bin", da[1])])
                # A holds the "FTPUPLOAD" title while its question is open.
                box = s.wait_box("Achtung:")
                self.assertNotEqual(s.find_window("FTPUPLOAD"), 0)
                pb = b.start([b.file("b1.bin", db[0]), b.file("b2.bin", db[1])])
                # B is connected and in its folder, then waits.
                qptest.wait_until(lambda: "CWD in" in ftpd_b.commands(), 30, "B in its folder")
                time.sleep(1.5)
                self.assertIsNone(pb.poll())
                self.assertFalse(any(c.startswith("STOR") for c in ftpd_b.commands()))
                s.press(box, qptest.IDYES)
                s.wait_exit(pa, RUN_LIMIT)
                s.wait_exit(pb, RUN_LIMIT)
                self.assertEqual(read(os.path.join(root_a, "a1.bin")), da[0])
                self.assertEqual(read(os.path.join(root_a, "a2.bin")), da[1])
                self.assertEqual(read(os.path.join(root_b, "in", "b1.bin")), db[0])
                self.assertEqual(read(os.path.join(root_b, "in", "b2.bin")), db[1])
                self.assertLess(os.path.getmtime(os.path.join(root_a, "a2.bin")),
                                os.path.getmtime(os.path.join(root_b, "in", "b1.bin")))


if __name__ == "__main__":
    unittest.main()
