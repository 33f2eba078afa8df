"""End-to-end runs of the upload-window program: the real Quillpost.exe
uploads a 20 MiB file under Wine to a pyftpdlib server on 127.0.0.1 (or ::1) that
reads uploads at a limited rate, and the real getsize.exe beside it shows
the progress, marks the file on a right click and aborts the run.

    getsize_e2e.py Class.test_name    (one case; ctest runs them in parallel)

Screenshots of the window go to the session folder; with QP_SHOTS=DIR they
are also copied there.
"""
import contextlib
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402
import uploads  # noqa: E402

TITLE = "Quillpost-Upload"
PBM_GETPOS = 0x408
BIG = 20 * 1024 * 1024
SLOW = 2 * 1024 * 1024  # bytes per second the server reads: about 10 s for BIG
SLOWER = 1024 * 1024  # room for two screenshots on a busy machine
RUN_LIMIT = 60


@contextlib.contextmanager
def throttled(name, rate=SLOW, bursts=False, host="127.0.0.1", **keys):
    """A session of its own, pyftpdlib on `host` that reads uploads at `rate`
    bytes per second into its folder "up", and the run set up for it with
    `keys`: (session, server, Run)."""
    with qptest.Session(name) as s:
        server = qptest.PyFtpd(os.path.join(s.dir, "srv"), rate=rate, bursts=bursts, host=host)
        os.makedirs(os.path.join(server.root, "up"))
        with server as ftpd:
            r = Run(s)
            r.configure(ftpd, **keys)
            yield s, ftpd, r


class Run(uploads.Run):
    """Quillpost.exe and the real getsize.exe in a program folder, Set1 for
    the folder "up" of the server, local files of a given size."""

    def __init__(self, session):
        super().__init__(session, getsize=qptest.exe("getsize.exe"))

    def configure(self, ftpd, **keys):
        super().configure(ftpd, **dict(dict(ServerDirectory="/up/"), **keys))

    def file(self, name, size):
        return super().file(name, bytes(range(256)) * (size // 256) + b"x" * (size % 256))

    def server_file(self, name):
        return os.path.join(self.s.dir, "srv", "up", name)


class Window:
    """The upload window found by its title, with its controls by id."""

    def __init__(self, session, timeout=30):
        self.s = session
        self.hwnd = session.wait_window(TITLE, timeout)
        kids = session.wait_children(self.hwnd, lambda c: {101, 102, 103, 104} <= {k[1] for k in c}, timeout)
        ids = {row[1]: row[0] for row in kids}
        self.name, self.bar, self.status, self.button = ids[101], ids[102], ids[103], ids[104]
        self.rect()

    def pos(self):
        out = self.s.winctl("send", self.bar, PBM_GETPOS, 0, 0, check=False)
        return int(out) if out.strip() else -1

    def wait_pos(self, at_least, timeout=30):
        return qptest.wait_until(lambda: (lambda p: p if p >= at_least else 0)(self.pos()), timeout,
                                 "progress of at least %d/1000" % at_least, interval=0.1)

    def rect(self):
        self.last_rect = tuple(map(int, self.s.info(self.hwnd)["rect"].split()))
        return self.last_rect

    def shot(self, tag):
        """Screenshot of the window at its last known place (one call less
        while the upload runs on)."""
        l, t, r, b = self.last_rect
        path = os.path.join(self.s.dir, "getsize-%s.png" % tag)
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (r - l, b - t, l, t), path],
                       env=self.s.env, check=True, timeout=60, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if os.environ.get("QP_SHOTS"):
            os.makedirs(os.environ["QP_SHOTS"], exist_ok=True)
            shutil.copy(path, os.environ["QP_SHOTS"])
        return path


def bar_fill(png, box):
    """(filled, red): pixels of the bar's filled part inside `box` (left, top,
    right, bottom in the PNG) and how many of them are red (the mark). The
    filled part is drawn in a saturated colour, the rest of the bar in grey."""
    l, t, r, b = box
    crop = "%dx%d+%d+%d" % (r - l, b - t, l, t)
    out = subprocess.run(["convert", png, "+repage", "-crop", crop, "-depth", "8", "txt:-"], stdout=subprocess.PIPE,
                         check=True, stdin=subprocess.DEVNULL, timeout=60).stdout.decode()
    filled = red = 0
    for line in out.splitlines()[1:]:
        rgb = [float(v) for v in line.split("(", 1)[1].split(")", 1)[0].split(",")[:3]]
        if max(rgb) - min(rgb) > 60:
            filled += 1
            red += rgb[0] > 150 and rgb[1] < 90 and rgb[2] < 90
    return filled, red


class GetSize(unittest.TestCase):
    def assert_gone(self, s):
        qptest.wait_until(lambda: not s.find_window(TITLE), 20, "the upload window to close")
        qptest.wait_until(lambda: not uploads.program_running(s), 20, "getsize.exe to end")

    def assert_own_connection(self, ftpd, name):
        """The window's own connection: two sign-ons, SIZE polls for `name`."""
        cmds = ftpd.commands()
        self.assertEqual(sum(c.startswith("USER ") for c in cmds), 2)
        self.assertIn("SIZE " + name, cmds)
        return cmds

    def test_progress_of_two_files(self):
        # The first file is small; the window follows the channel to the
        # second and shows its growth on the server.
        with throttled("gs-progress", SLOWER) as (s, ftpd, r):
            small, big = r.file("klein.txt", 300000), r.file("gross datei.bin", BIG)
            p = r.start([small, big])
            w = Window(s)
            qptest.wait_until(lambda: s.get_text(w.name).startswith("gross_datei.bin"), 30,
                              "the second file's name")
            self.assertEqual(s.get_text(w.name), "gross_datei.bin (20.971.520 Bytes)")
            w.wait_pos(100)
            # The rate needs two seconds of the second file's growth.
            status1 = qptest.wait_until(lambda: (lambda t: t if "Bytes/s" in t else "")(
                s.get_text(w.status)), 10, "a rate")
            w.shot("1")
            first = w.pos()
            second = w.wait_pos(max(min(first + 150, 850), first + 1))
            w.shot("2")
            status2 = s.get_text(w.status)
            self.assertGreater(second, first)
            for status in (status1, status2):
                self.assertRegex(status, r"^\d+ % · [\d.]+ Bytes/s$")
            rate = int(status2.split("· ")[1].split(" ")[0].replace(".", ""))
            # The server reads 1 MiB/s; the shown rate is measured from SIZE.
            self.assertTrue(SLOWER // 2 < rate < SLOWER * 2, status2)
            self.assertEqual(s.wait_exit(p, RUN_LIMIT), 0)
            self.assertEqual(os.path.getsize(r.server_file("gross_datei.bin")), BIG)
            self.assert_gone(s)
            self.assert_own_connection(ftpd, "gross_datei.bin")

    def test_progress_over_ipv6(self):
        # The window's own connection goes to the server on ::1 as the run's does.
        with throttled("gs-ipv6", host="::1", ServerName="::1") as (s, ftpd, r):
            p = r.start([r.file("sechs.bin", BIG)])
            w = Window(s)
            first = w.wait_pos(100)
            qptest.wait_until(lambda: "Bytes/s" in s.get_text(w.status), 10, "a rate")
            w.wait_pos(first + 1)
            self.assertEqual(s.wait_exit(p, RUN_LIMIT), 0)
            self.assertEqual(os.path.getsize(r.server_file("sechs.bin")), BIG)
            self.assert_gone(s)
            self.assertIn("EPSV", self.assert_own_connection(ftpd, "sechs.bin"))

    def test_steady_rate_while_the_server_writes_in_bursts(self):
        # The server writes what it received once a second, so the size
        # on the server stands still between bursts. The window shows no
        # rate until it has one, then a steady one near the server's rate,
        # never 0 (it used to read 0 between the bursts, then twice the rate).
        with throttled("gs-bursts", SLOWER, bursts=True) as (s, ftpd, r):
            p = r.start([r.file("schub.bin", BIG)])
            w = Window(s)
            shown, first_rate, start = [], None, time.monotonic()
            while w.pos() < 900:
                shown.append(s.get_text(w.status))
                if not shown[-1]:  # the window is gone: the file is complete
                    shown.pop()
                    break
                if first_rate is None and "Bytes/s" in shown[-1]:
                    first_rate = len(shown) - 1
                if first_rate is None:
                    self.assertLess(time.monotonic() - start, RUN_LIMIT, "no rate shown: %s" % shown[-5:])
                elif len(shown) - first_rate >= 25:
                    break
                time.sleep(0.4)  # a sample every 0.4 s: 25 of them span several bursts
            self.assertIsNotNone(first_rate, shown)
            for text in shown[:first_rate]:
                self.assertRegex(text, r"^(Verbindung wird aufgebaut …|\d+ %)$")
            rates = []
            for text in shown[first_rate:]:
                self.assertRegex(text, r"^\d+ % · [\d.]+ Bytes/s$")
                rates.append(int(text.split("· ")[1].split(" ")[0].replace(".", "")))
            self.assertGreaterEqual(len(rates), 10, shown)
            # The server takes 1 MiB/s, written to disk about every two seconds.
            for rate in rates:
                self.assertTrue(SLOWER * 3 // 4 <= rate <= SLOWER * 4 // 3, shown)
            self.assertEqual(s.wait_exit(p, RUN_LIMIT), 0)
            self.assert_gone(s)

    def test_right_click_protects_the_file(self):
        # Also: the window moves by dragging, and the mark shows in the bar.
        with throttled("gs-mark", SLOWER, DelOld=1, History1="alt.bin", Protect=0) as (s, ftpd, r):
            with open(r.server_file("alt.bin"), "wb") as f:
                f.write(b"older upload")
            p = r.start([r.file("neu.bin", BIG)])
            w = Window(s)
            w.wait_pos(50)
            # Dragged by its body (left of the button) it moves up and left.
            left, top, _right, _bottom = w.rect()
            s.xdotool("mousemove", left + 60, top + 65)
            s.xdotool("mousedown", 1)
            time.sleep(0.1)
            for k in range(1, 11):
                s.xdotool("mousemove", left + 60 - 15 * k, top + 65 - 10 * k)
                time.sleep(0.03)
            s.xdotool("mouseup", 1)
            qptest.wait_until(lambda: w.rect()[:2] == (left - 150, top - 100), 10, "the window to move")
            left, top = w.last_rect[:2]
            bl, bt, br, bb = map(int, s.info(w.bar)["rect"].split())
            bar = (bl - left, bt - top, br - left, bb - top)
            unmarked = w.shot("unmarked")
            s.click_at(left + 120, top + 37, button=3)
            qptest.wait_until(lambda: r.section().get("Protect") == "1", 20, "Protect=1")
            qptest.wait_until(lambda: "markiert" in s.get_text(w.status), 20, "the mark in the status")
            # The mark colours the whole filled part, however far the upload
            # has got (the bar repaints after the status line changed); before
            # it, nothing in the bar is red.
            def red_share():
                filled, red = bar_fill(w.shot("marked"), bar)
                return filled and red / filled >= 0.95
            qptest.wait_until(red_share, 20, "the filled part of the bar to turn red", interval=0.2)
            filled, red = bar_fill(unmarked, bar)
            self.assertGreater(filled, 0)
            self.assertEqual(red, 0)
            self.assertEqual(s.wait_exit(p, RUN_LIMIT), 0)
            self.assertEqual(os.path.getsize(r.server_file("neu.bin")), BIG)
            # Protected: nothing deleted, not recorded, the mark reset.
            self.assertTrue(os.path.exists(r.server_file("alt.bin")))
            sec = r.section()
            self.assertEqual(sec.get("History1"), "alt.bin")
            self.assertEqual(sec.get("History2", ""), "")
            self.assertEqual(sec.get("Protect"), "0")
            self.assert_gone(s)

    def test_abort_ends_the_run(self):
        with throttled("gs-abort", DelOld=1, History1="alt.bin") as (s, ftpd, r):
            p = r.start([r.file("abbruch.bin", BIG)])
            w = Window(s)
            w.wait_pos(100)
            s.winctl("click", w.button)
            s.wait_exit(p, 20)
            self.assert_gone(s)
            # The run ended mid-file: the partial file is removed, and neither
            # the history step (DelOld 1 would record it) nor the clipboard ran.
            qptest.wait_until(lambda: not os.path.exists(r.server_file("abbruch.bin")), 10,
                              "the partial file to be removed")
            self.assertEqual(r.section().get("History1"), "alt.bin")
            self.assertIn(s.clipboard(), (None, b""))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[1:], verbosity=2)
