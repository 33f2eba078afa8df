"""Transfers against a scripted server that misbehaves, and the rules of the
command interface itself. Each fault is followed by a call that must work."""
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from drive import drive, make_file, qptest  # noqa: E402
from scriptftpd import PortIntruder, ScriptedFtpd, Sink  # noqa: E402


def login(srv, passive):
    return [("setpassive", int(passive)), ("connect", "u", "p", "127.0.0.1", str(srv.port))]


class FaultTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="qp-faults-")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.small = make_file(os.path.join(cls.work, "small.bin"), 5000, seed=3)
        cls.big = make_file(os.path.join(cls.work, "big.bin"), 3 * 1024 * 1024 + 11, seed=4)
        with open(cls.small, "rb") as f:
            cls.small_bytes = f.read()
        with open(cls.big, "rb") as f:
            cls.big_bytes = f.read()
        cls.session = qptest.class_session(cls, "ftp-faults")

    @staticmethod
    def w(path):
        return qptest.Session.winpath(path)

    def local(self, name):
        return os.path.join(self.work, name)

    def test_passive_reply_naming_another_host(self):
        """The data connection goes to the control connection's address."""
        with ScriptedFtpd(faults={"PASV": ["otherhost", "otherhost"]},
                          files={"in.bin": self.big_bytes}) as srv:
            run = drive(self.session, login(srv, True) + [
                ("upload", self.w(self.small), "up.bin"),
                ("download", "in.bin", self.w(self.local("pasv-other.bin")))])
        self.assertEqual([r.value for r in run.rows[1:]], [1, 1, 1], run.rows)
        self.assertEqual(srv.files["up.bin"], self.small_bytes)
        with open(self.local("pasv-other.bin"), "rb") as f:
            self.assertEqual(f.read(), self.big_bytes)
        self.assertEqual([d["local"][0] for d in srv.data_links], ["127.0.0.1", "127.0.0.1"])

    def test_store_failures_then_next_upload(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                with ScriptedFtpd(faults={"STOR": ["first550", "final451", "final552"]}) as srv:
                    calls = login(srv, passive)
                    calls += [("upload", self.w(self.small), "a.bin")] * 4
                    run = drive(self.session, calls)
                rows = run.rows[2:]
                self.assertEqual([(r.value, r.code) for r in rows[:3]], [(0, 550), (0, 451), (0, 552)],
                                 rows)
                self.assertEqual(rows[0].text, "550 Permission denied.")
                self.assertEqual(rows[2].text, "552 Exceeded storage allocation.")
                self.assertEqual((rows[3].value, rows[3].code), (1, 226), rows[3])
                self.assertEqual(srv.files["a.bin"], self.small_bytes)
                self.assertEqual(srv.commands.count("STOR a.bin"), 4)

    def test_final_reply_before_and_after_data_close(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                with ScriptedFtpd(faults={"RETR": ["final226first", "final226after"]},
                                  files={"in.bin": self.big_bytes}) as srv:
                    srv.expect = len(self.small_bytes)
                    srv.faults["STOR"] = ["early226"]
                    run = drive(self.session, login(srv, passive) + [
                        ("download", "in.bin", self.w(self.local("first.bin"))),
                        ("download", "in.bin", self.w(self.local("after.bin"))),
                        ("upload", self.w(self.small), "early.bin"),
                        ("getfilesize", "early.bin")])
                self.assertEqual([r.value for r in run.rows[2:]], [1, 1, 1, len(self.small_bytes)],
                                 run.rows)
                for name in ("first.bin", "after.bin"):
                    with open(self.local(name), "rb") as f:
                        self.assertEqual(f.read(), self.big_bytes, name)
                self.assertEqual(srv.files["early.bin"], self.small_bytes)

    def test_data_connection_reset(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                with ScriptedFtpd(faults={"RETR": ["reset"], "STOR": ["reset"]},
                                  files={"in.bin": self.big_bytes}) as srv:
                    run = drive(self.session, login(srv, passive) + [
                        ("download", "in.bin", self.w(self.local("reset.bin"))),
                        ("download", "in.bin", self.w(self.local("whole.bin"))),
                        ("upload", self.w(self.big), "r.bin"),
                        ("upload", self.w(self.big), "r.bin")])
                rows = run.rows[2:]
                self.assertEqual([r.value for r in rows], [0, 1, 0, 1], rows)
                self.assertNotEqual(rows[0].code, 226, rows[0])
                self.assertNotEqual(rows[2].code, 226, rows[2])
                with open(self.local("whole.bin"), "rb") as f:
                    self.assertEqual(f.read(), self.big_bytes)
                self.assertEqual(srv.files["r.bin"], self.big_bytes)

    def test_server_stops_reading(self):
        """No progress for the wait limit ends the upload with 426; a new
        connect then works at once."""
        stall = make_file(self.local("stall.bin"), 48 * 1024 * 1024, seed=5)
        with ScriptedFtpd(faults={"STOR": ["stall"]}) as srv:
            started = time.monotonic()
            run = drive(self.session, login(srv, True) + [
                ("upload", self.w(stall), "s.bin"),
                ("connect", "u", "p", "127.0.0.1", str(srv.port)),
                ("upload", self.w(self.small), "after.bin")], timeout=120)
            elapsed = time.monotonic() - started
        up, reconnect, after = run.rows[2:]
        self.assertEqual((up.value, up.code), (0, 426), up)
        self.assertGreaterEqual(up.ms, 14000)
        self.assertLess(up.ms, 40000)
        self.assertEqual(reconnect.value, 1, reconnect)
        self.assertLess(reconnect.ms, 5000, reconnect)
        self.assertEqual(after.value, 1, after)
        self.assertEqual(srv.files["after.bin"], self.small_bytes)
        self.assertLess(elapsed, 90)

    def test_upload_counts_only_when_the_server_holds_every_byte(self):
        # (faults, server without SIZE) -> (result, code) of the first upload;
        # the second upload of the same file always works.
        cases = [
            ({"STOR": ["truncate"]}, False, (0, 550)),
            ({"STOR": ["cutoff"]}, False, (0, 426)),
            ({"STOR": ["cutoff"]}, True, (0, 426)),
            ({}, True, (1, 226)),
        ]
        for passive in (True, False):
            for faults, no_size, first in cases:
                with self.subTest(passive=passive, faults=faults, no_size=no_size):
                    with ScriptedFtpd(faults=faults) as srv:
                        srv.no_size = no_size
                        run = drive(self.session, login(srv, passive) +
                                    [("upload", self.w(self.big), "t.bin")] * 2)
                    up, again = run.rows[2:]
                    self.assertEqual((up.value, up.code), first, up)
                    self.assertEqual((again.value, again.code), (1, 226), again)
                    self.assertEqual(srv.files["t.bin"], self.big_bytes)
                    if faults.get("STOR") == ["truncate"]:
                        self.assertEqual(up.text, "550 The server holds 1048576 of %d bytes sent."
                                         % len(self.big_bytes))
                    # A transfer cut off is failed before any SIZE is asked.
                    cut = faults.get("STOR") == ["cutoff"]
                    self.assertEqual(srv.commands.count("SIZE t.bin"), 1 if cut else 2, srv.commands)

    def test_empty_file_counts_with_and_without_size(self):
        # The end of the stream comes before any byte: our shutdown at once,
        # then the server's close.
        path = self.local("empty.bin")
        open(path, "wb").close()
        for passive in (True, False):
            for no_size in (False, True):
                with self.subTest(passive=passive, no_size=no_size):
                    with ScriptedFtpd() as srv:
                        srv.no_size = no_size
                        run = drive(self.session, login(srv, passive) +
                                    [("upload", self.w(path), "e.bin")])
                    up = run.rows[2]
                    self.assertEqual((up.value, up.code), (1, 226), up)
                    self.assertEqual(srv.files["e.bin"], b"")

    def test_active_data_connection_only_from_the_server(self):
        """Whoever reaches the PORT address first gets nothing; the server
        gets the file."""
        with ScriptedFtpd() as srv:
            srv.on_port = PortIntruder()
            run = drive(self.session, login(srv, False) + [
                ("upload", self.w(self.big), "a.bin"),
                ("download", "a.bin", self.w(self.local("back.bin")))])
        self.assertEqual([r.value for r in run.rows[2:]], [1, 1], run.rows)
        self.assertEqual(srv.files["a.bin"], self.big_bytes)
        self.assertEqual(srv.on_port.results(), [{"bytes": 0, "ended": True}] * 2)
        with open(self.local("back.bin"), "rb") as f:
            self.assertEqual(f.read(), self.big_bytes)
        # The listener was on the control connection's address only.
        self.assertTrue(all(c == "PORT 127,0,0,1," + c.split(",", 4)[4] for c in srv.commands
                            if c.startswith("PORT")))

    def test_multi_line_replies_with_numbered_lines(self):
        with ScriptedFtpd() as srv:
            srv.greeting = ["220-Welcome", "1. Be nice", "2 uploads per hour", "220 ready"]
            srv.cwd_reply = ["250-Folder up", "1 file", "550 is only text", "250 CWD ok"]
            # A 226 line inside the 150 reply must not end the transfer early;
            # a 451 line inside the 226 reply must not fail it.
            srv.stor_first = ["150-Opening", "226 not yet", "150 data connection"]
            srv.stor_final = ["226-Stored", "451 only text", "226 Transfer complete."]
            run = drive(self.session, login(srv, True) + [
                ("setdir", "up"),
                ("upload", self.w(self.small), "m.bin"),
                ("getfilesize", "m.bin")])
        self.assertEqual([r.value for r in run.rows[1:]], [1, 1, 1, len(self.small_bytes)], run.rows)
        self.assertEqual(run.rows[2].text, "250 CWD ok")
        self.assertEqual((run.rows[3].code, run.rows[3].text), (226, "226 Transfer complete."))

    def test_size_beyond_32_bits(self):
        huge = Sink()
        huge.length = 4831838208
        with ScriptedFtpd(files={"huge.bin": huge}) as srv:
            run = drive(self.session, login(srv, True) + [("getfilesize", "huge.bin")])
        self.assertEqual(run.rows[2].result, "4831838208", run.rows)

    def test_slow_link_outlasting_the_wait_limit(self):
        """2000 bytes a second for 16 s: every byte counts as progress, and
        what the send buffer still holds at the close drains within the wait
        limit. (The upload tests run 40 s of it in active mode.)"""
        data = self.big_bytes[:32000]
        path = self.local("slow.bin")
        with open(path, "wb") as f:
            f.write(data)
        with ScriptedFtpd() as srv:
            srv.throttle = 2000
            run = drive(self.session, login(srv, True) + [("upload", self.w(path), "slow.bin")])
        up = run.rows[2]
        self.assertEqual((up.value, up.code), (1, 226), up)
        self.assertGreater(up.ms, 15000, up)
        self.assertEqual(srv.files["slow.bin"], data)

    def test_local_file_missing(self):
        missing = self.w(self.local("no such file.bin"))
        for passive in (True, False):
            with self.subTest(passive=passive):
                with ScriptedFtpd() as srv:
                    run = drive(self.session, login(srv, passive) + [
                        ("upload", missing, "m.bin"),
                        ("upload", self.w(self.small), "m.bin"),
                        ("download", "m.bin", self.w(self.local("nodir")) + "\\x\\y.bin"),
                        ("download", "m.bin", self.w(self.local("m-back.bin")))])
                up, up2, down, down2 = run.rows[2:]
                self.assertEqual((up.value, up.code, up.text),
                                 (0, 550, "Unable to open local file " + missing))
                self.assertEqual((up2.value, up2.code), (1, 226))
                self.assertEqual((down.value, down.code), (0, 550))
                self.assertTrue(down.text.startswith("Unable to open local file "), down)
                self.assertEqual(down2.value, 1)
                self.assertEqual(srv.commands.count("STOR m.bin"), 1)


class InterfaceTest(unittest.TestCase):
    """The command interface's own rules."""

    def test_interface_rules(self):
        work = tempfile.mkdtemp(prefix="qp-iface-")
        try:
            with qptest.Session("ftp-iface") as s, \
                    ScriptedFtpd(files={"x.bin": b"12345"}, faults={"PASS": ["", "", "fail530"]}) as srv:
                w = s.winpath
                run = drive(s, [
                    ("upload", w(__file__), "nope"),         # not connected: at once, no reply
                    ("getfilesize", "x.bin"),
                    ("getdir",),
                    ("listdir", w(os.path.join(work, "l.txt"))),
                    ("setpassive", 1),
                    ("SetPassive", 1),
                    ("setproxy", "127.0.0.1", ""),  # no port: no proxy
                    ("CONNECT", "u", "p", "127.0.0.1", str(srv.port)),
                    ("GetFileSize", "x.bin"),
                    ("getfilesize", "missing.bin"),
                    ("getdir",),
                    ("listdir", ""),
                    ("connect", "u", "p", "127.0.0.1", str(srv.port)),  # signs off first
                    ("EchoArgs", "a", "b c"),
                    ("#silent",),
                    ("nosuchthing", "1"),
                    ("#report",),
                    ("disconnect",),
                    ("setdir", "/"),
                    ("disconnect",),
                    ("connect", "u", "bad", "127.0.0.1", str(srv.port)),  # 530: signs off
                    ("connect", "u", "p", "127.0.0.1", str(qptest.free_port())),  # refused
                    ("connect", "u", "p", "127.0.0.1", str(srv.port)),
                ])
        finally:
            shutil.rmtree(work, ignore_errors=True)
        r = run.rows
        for row in r[:4]:
            self.assertEqual((row.code, row.text, row.flag), (0, "", 0), row)
            self.assertLess(row.ms, 1000, row)
        self.assertEqual([x.value for x in r[:4]], [0, -1, "", 0])
        self.assertEqual([r[4].value, r[5].value, r[6].value], [0, 1, 0])
        self.assertEqual(srv.commands[0], "USER u")
        self.assertEqual((r[7].value, r[7].flag), (1, 1))
        self.assertEqual(r[8].value, 5)
        self.assertEqual((r[9].value, r[9].code, r[9].text), (-1, 550, "550 No such file."))
        self.assertEqual(r[10].value, '257 "/" is the current directory.')
        self.assertEqual(r[11].value, 0)
        self.assertEqual(r[12].value, 1)
        # reconnect, disconnect, bad login, shut-down
        self.assertEqual(srv.commands.count("QUIT"), 4, (srv.commands, r))
        first_quit = srv.commands.index("QUIT")
        self.assertTrue(srv.commands[first_quit + 1].startswith("USER"), srv.commands)
        self.assertEqual(r[13].value, "a,b c")
        self.assertEqual(r[14].value, 0)
        self.assertEqual(run.reports, [(2, 263, "nosuchthing")])
        self.assertEqual((r[15].value, r[15].flag), (1, 0))
        self.assertEqual(r[16].value, 0)          # not connected any more
        self.assertEqual((r[17].value, r[17].flag), (0, 0))
        self.assertLess(r[17].ms, 1000)
        self.assertEqual((r[18].value, r[18].code, r[18].text, r[18].flag),
                         (0, 530, "530 Login incorrect.", 0))
        bad = srv.commands.index("PASS bad")
        self.assertEqual(srv.commands[bad + 1], "QUIT")
        self.assertEqual((r[19].value, r[19].code, r[19].flag), (0, 500, 0), r[19])
        self.assertIn("10061", r[19].text)
        self.assertLess(r[19].ms, 5000)
        self.assertEqual((r[20].value, r[20].flag), (1, 1))
        # Still connected at the end: the shut-down signs off. Every login
        # asks FEAT (this server knows none).
        self.assertEqual(srv.commands[-4:], ["USER u", "PASS p", "FEAT", "QUIT"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
