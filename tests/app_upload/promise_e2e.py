"""End-to-end runs of Quillpost.exe against scripted servers that misbehave
in one way each: an address goes into the clipboard only when the server
holds the whole file, and a failure is reported only after three real
attempts.

    promise_e2e.py Class[.test_name]
"""
import os
import socket
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "ftp_transfer"))
from upload_e2e import SharedSession, Upload, empty_clipboard, payload, qptest  # noqa: E402
from scriptftpd import ScriptedFtpd  # noqa: E402

FAILED = "Der Upload ist fehlgeschlagen!\r\n\r\n"


def stors(srv, name):
    return srv.commands.count("STOR " + name)


def sparse_file(path, size, marks):
    """A sparse file of `size` bytes, zero but for `marks` {offset: bytes}."""
    with open(path, "wb") as f:
        f.truncate(size)
        for offset, data in marks.items():
            f.seek(offset)
            f.write(data)
    return path


class Promises(SharedSession):
    def test_truncated_by_the_server_is_no_upload(self):
        # The server keeps 1 MB of 3 and still answers 226, three times.
        with self.session() as s, ScriptedFtpd(faults={"STOR": ["truncate"] * 3}) as srv:
            u = Upload(s)
            u.configure(srv.port)
            empty_clipboard(s)
            p = u.start([u.file("big.bin", payload("trunc", 3000000))])
            self.assertEqual(s.answer("Fehler:", qptest.IDOK, timeout=60), FAILED + "big.bin")
            self.assertEqual(stors(srv, "big.bin"), 3)
            self.assertEqual(srv.commands.count("SIZE big.bin"), 3)
            s.wait_exit(p, 30)
            self.assertIsNone(s.clipboard())

    def test_cut_off_and_truncated_attempts_are_retried(self):
        # Attempt 1: the data connection ends orderly after 1 MB; attempt 2:
        # the server keeps 1 MB; attempt 3 stores the whole file.
        with self.session() as s, ScriptedFtpd(faults={"STOR": ["cutoff", "truncate"]}) as srv:
            u = Upload(s)
            u.configure(srv.port, PassiveMode=0)
            data = payload("cut", 3000000)
            u.run([u.file("cut.bin", data)])
            self.assertEqual(srv.files["cut.bin"], data)
            self.assertEqual(stors(srv, "cut.bin"), 3)
            self.assertEqual(s.clipboard(), b"http://www.example.com/files/cut.bin")

    def test_server_closes_an_idle_connection_before_the_second_file(self):
        # The overwrite question for the second file stays open until the
        # server has said "421 Timeout." and closed the idle connection; the
        # second file then comes over a new login, in the run's folder.
        with self.session() as s, ScriptedFtpd(files={"two.bin": b"older"}) as srv:
            u = Upload(s)
            u.configure(srv.port, ServerDirectory="in", Ask=1)
            one, two = payload("one", 200000), payload("two", 300000)
            p = u.start([u.file("one.bin", one), u.file("two.bin", two)])
            box = s.wait_box("Achtung:")
            srv.idle_close = 1
            self.assertTrue(srv.idle_closed.wait(30))
            s.press(box, qptest.IDYES)
            s.wait_exit(p, 60)
            self.assertEqual(srv.files["one.bin"], one)
            self.assertEqual(srv.files["two.bin"], two)
            self.assertEqual(s.clipboard(), b"http://www.example.com/files/one.bin\r\n"
                                            b"http://www.example.com/files/two.bin")
            self.assertEqual(srv.commands.count("USER user"), 2)
            second = srv.commands.index("USER user", 1)
            # The new login asks FEAT like the first one, then returns to the folder.
            self.assertEqual(srv.commands[second:second + 6],
                             ["USER user", "PASS pass", "FEAT", "CWD /", "CWD in", "TYPE I"])
            self.assertEqual(stors(srv, "two.bin"), 1)

    def test_numbered_lines_in_multi_line_replies(self):
        with self.session() as s, ScriptedFtpd() as srv:
            srv.greeting = ["220-Welcome", "1. Be nice", "2 uploads per hour", "220 ready"]
            srv.cwd_reply = ["250-Directory changed", "1 file here", "2 files there", "250 OK"]
            u = Upload(s)
            u.configure(srv.port, ServerDirectory="pub")
            data = payload("multi", 50000)
            u.run([u.file("m.txt", data)])
            self.assertEqual(srv.files["m.txt"], data)
            self.assertEqual(s.clipboard(), b"http://www.example.com/files/m.txt")

    def test_third_party_at_the_port_address_gets_nothing(self):
        got = []

        def intrude(target):
            # Another host reaches the announced port before the server.
            sock = socket.socket()
            sock.bind(("127.0.0.2", 0))
            sock.settimeout(30)
            sock.connect(target)
            count = {"bytes": 0}

            def read():
                try:
                    while True:
                        chunk = sock.recv(65536)
                        if not chunk:
                            break
                        count["bytes"] += len(chunk)
                except OSError:
                    pass
                sock.close()
            t = threading.Thread(target=read, daemon=True)
            t.start()
            got.append((t, count))

        with self.session() as s, ScriptedFtpd() as srv:
            srv.on_port = intrude
            u = Upload(s)
            u.configure(srv.port, PassiveMode=0)
            data = payload("mine", 3000000)
            u.run([u.file("mine.bin", data)])
            self.assertEqual(srv.files["mine.bin"], data)
            self.assertEqual(len(got), 1)
            got[0][0].join(10)
            self.assertEqual(got[0][1]["bytes"], 0)
            self.assertEqual(s.clipboard(), b"http://www.example.com/files/mine.bin")


class SlowLinks(SharedSession):
    def test_stall_fails_after_three_real_attempts(self):
        # The server never reads: each attempt ends after 15 s without
        # progress, and the next one starts over a new login.
        with self.session() as s, ScriptedFtpd(faults={"STOR": ["stall"] * 3}) as srv:
            u = Upload(s)
            u.configure(srv.port)
            path = sparse_file(os.path.join(u.local, "stall.bin"), 64 << 20, {0: b"x"})
            empty_clipboard(s)
            started = time.monotonic()
            p = u.start([path])
            self.assertEqual(s.answer("Fehler:", qptest.IDOK, timeout=120), FAILED + "stall.bin")
            elapsed = time.monotonic() - started
            self.assertEqual(stors(srv, "stall.bin"), 3)
            self.assertEqual(srv.commands.count("USER user"), 3)
            self.assertGreater(elapsed, 45)  # three waits of 15 s and two pauses
            s.wait_exit(p, 30)
            self.assertIsNone(s.clipboard())

    def test_two_kilobytes_a_second_for_forty_seconds(self):
        with self.session() as s, ScriptedFtpd() as srv:
            srv.throttle = 2000
            u = Upload(s)
            u.configure(srv.port, PassiveMode=0)
            data = payload("slow", 80000)
            started = time.monotonic()
            u.run([u.file("slow.bin", data)], limit=120)
            self.assertGreater(time.monotonic() - started, 38)
            self.assertEqual(srv.files["slow.bin"], data)
            self.assertEqual(stors(srv, "slow.bin"), 1)
            self.assertEqual(s.clipboard(), b"http://www.example.com/files/slow.bin")

    def test_file_of_four_and_a_half_gib(self):
        # Sparse on both sides: the server keeps only the length and the
        # non-zero bytes, which sit around the 2 GiB and 4 GiB marks.
        size = 4608 << 20
        marks = {0: b"start", (2 << 30) - 3: b"2GiB-edge", (4 << 30) - 2: b"4GiB-edge",
                 size - 3: b"end"}
        with self.session() as s, ScriptedFtpd() as srv:
            srv.sink = True
            u = Upload(s)
            u.configure(srv.port)
            path = sparse_file(os.path.join(u.local, "huge.bin"), size, marks)
            try:
                u.run([path], limit=900)
            finally:
                os.remove(path)
            self.assertEqual(len(srv.files["huge.bin"]), size)
            self.assertEqual(srv.files["huge.bin"].runs, marks)
            self.assertIn("SIZE huge.bin", srv.commands)
            self.assertRegex(u.finished_log()[0], r"^cmd getsize\.exe huge\.bin 4831838208 ")
            self.assertEqual(s.clipboard(), b"http://www.example.com/files/huge.bin")


if __name__ == "__main__":
    unittest.main()
