"""The runtime's windows as seen on screen, and clean ends of processes, each
in an isolated Wine session.

The showcase window of rtcore_probe has several control types on a
button-face background, with bold and normal Tahoma. The test takes a
screenshot of it (QP_SHOT=path keeps the PNG) and checks colours at known
places, then closes the window: the program must exit with
code 0 and leave no process behind.
"""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402

WM_SYSCOMMAND, SC_CLOSE = 0x112, 0xF060


def pixel(png, x, y):
    """(r, g, b) of one pixel, read through ImageMagick."""
    fmt = " ".join("%%[fx:int(255*p{%d,%d}.%s+0.5)]" % (x, y, c) for c in "rgb")
    out = subprocess.run(["convert", png, "-format", fmt, "info:"], stdout=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, check=True, timeout=60).stdout
    return tuple(int(v) for v in out.split())


def wine_processes(prefix, name):
    """Unix processes of this Wine prefix whose command line names `name`."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                env = f.read()
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read()
        except OSError:
            continue
        if ("WINEPREFIX=" + prefix).encode() in env.split(b"\0") and name.encode().lower() in cmd.lower():
            found.append(int(pid))
    return found


class Showcase(unittest.TestCase):
    def test_showcase_window(self):
        with qptest.Session("rtcore-showcase") as s:
            p = s.start(qptest.exe("rtcore_probe.exe"), ["showcase"], name="probe")
            hwnd = s.wait_window("rtcore showcase", 60)
            out = os.path.join(s.dir, "probe-0.out")

            def output():
                with open(out, "rb") as f:
                    return f.read().decode("cp1252")
            qptest.wait_until(lambda: "READY" in output(), 30, "showcase ready")
            face = tuple(int(v) for v in output().split("face")[1].split()[:3])

            kids = s.children(hwnd)
            by_text = {k[5]: k for k in kids}
            for t in ("Server und Zugang:", "Speichern", "Abbrechen", "Passiver Modus", "Verlauf"):
                self.assertIn(t, by_text)
            classes = {k[2].lower() for k in kids}
            self.assertTrue({"button", "static", "edit", "combobox", "listbox", "scrollbar"} <= classes)

            png = os.environ.get("QP_SHOT") or os.path.join(s.dir, "showcase.png")
            info = s.info(hwnd)
            l, t, r, b = map(int, info["rect"].split())
            cw, ch = map(int, info["client"].split())
            border = ((r - l) - cw) // 2
            top = (b - t) - ch - border  # caption and upper frame
            s.screenshot(png, hwnd)

            def at(x, y):  # client coordinates
                return pixel(png, border + x, top + y)
            self.assertEqual(at(300, 250), face, "background is the button face colour")
            self.assertEqual(at(180, 50), (255, 255, 255), "edit fields are white")
            self.assertNotEqual(at(300, 250), (0, 0, 0))

            s.winctl("close", hwnd)
            self.assertEqual(s.wait_exit(p, 30), 0)
            self.assertEqual(wine_processes(s.prefix, "rtcore_probe"), [])


class QuillpostProcess(unittest.TestCase):
    def test_starts_and_ends_cleanly(self):
        """Started without parameters the program opens its configuration
        window; closing it ends the process with code 0 and no process of
        it is left."""
        with qptest.Session("rtcore-quillpost") as s:
            work = os.path.join(s.dir, "work")
            os.makedirs(work)
            p = s.start(qptest.exe("Quillpost.exe"), [], cwd=work, name="quillpost")
            hwnd = s.wait_window("Quillpost 1.2", 60)
            self.assertIsNone(p.poll())
            # A close that arrives while the program is still building its
            # window, before it waits for events, is not seen (events are
            # pulsed); like a user, close again until it ends.
            for _ in range(15):
                s.winctl("post", hwnd, WM_SYSCOMMAND, SC_CLOSE, 0)
                try:
                    p.wait(2)
                    break
                except subprocess.TimeoutExpired:
                    pass
            self.assertEqual(s.wait_exit(p, 5), 0)
            self.assertEqual(wine_processes(s.prefix, "quillpost"), [])
            self.assertEqual(s.find_window("Quillpost 1.2"), 0)


if __name__ == "__main__":
    unittest.main()
