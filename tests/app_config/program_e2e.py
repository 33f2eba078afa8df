"""Program start of the real Quillpost.exe under Wine: the mode decision by
the command line, the configuration read for an upload (observed through the
upload it drives and through a relay trace of the profile reads), the refusal
of more than 200 files, and the single configuration window.

    program_e2e.py Class.test_name    (one case; ctest runs them in parallel)
"""
import contextlib
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402
from uploads import NO_CONNECTION, Run  # noqa: E402

CONFIG_TITLE = "Quillpost 1.2"


def trace_calls(session, functions):
    """Makes Wine log calls of the named functions (module.function) of the
    programs started with traced_env()."""
    code, _ = session.run("reg", ["add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
                                  "/d", ";".join(functions), "/f"], timeout=60)
    assert code == 0, code


def start_traced(session, program, args, cwd, name):
    """Starts a program with Wine's relay trace (timestamps) into its output file."""
    plain = session.env
    session.env = dict(plain, WINEDEBUG="+timestamp,+relay")
    # Session.start numbers the output file by the programs started before.
    output = os.path.join(session.dir, "%s-%d.out" % (name, len(session.procs)))
    try:
        return session.start(program, args, cwd=cwd, name=name), output
    finally:
        session.env = plain


def traced_calls(path, function):
    """[(seconds, [arguments as text])] of the logged calls of a function."""
    calls = []
    with open(path, "rb") as f:
        for line in f.read().decode("cp1252", "replace").splitlines():
            m = re.match(r"^(\d+\.\d+):[0-9a-f]+:Call [\w.]+\.%s\((.*)\) ret=" % re.escape(function), line)
            if m:
                calls.append((float(m.group(1)), m.group(2)))
    return calls


def profile_reads(path):
    """(file, section, key) of every GetPrivateProfileStringA call."""
    reads = []
    for _, args in traced_calls(path, "GetPrivateProfileStringA"):
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', args)
        section, key, _default, file = strings[0], strings[1], strings[2], strings[-1]
        reads.append((file.replace("\\\\", "\\"), section, key))
    return reads


class Program(Run):
    """Quillpost.exe with the stand-in getsize.exe in a program folder of
    its own, and a base folder to start it in."""

    def section_for(self, ftpd, directory, password="pass"):
        return super().section_for(ftpd, password, ServerDirectory=directory, UseClipboardFunction=0)

    def file(self, name, data=b"quillpost"):
        return super().file(name, data)

    def start(self, args, traced=False, name="qp"):
        if traced:
            return start_traced(self.s, self.exe, args, self.base, name)
        return self.s.start(self.exe, args, cwd=self.base, name=name), None


@contextlib.contextmanager
def served(name, folders):
    """A session of its own, pyftpdlib serving `folders` in a root folder,
    and the program: (session, root, server, Program)."""
    with qptest.Session(name) as s:
        root = os.path.join(s.dir, "srv")
        for f in folders:
            os.makedirs(os.path.join(root, f))
        with qptest.PyFtpd(root) as ftpd:
            yield s, root, ftpd, Program(s)


class UploadMode(unittest.TestCase):
    UPLOAD_KEYS = ["UseClipboardFunction", "DirSel", "Ask", "DelOld", "DelClick", "ProxyServer", "ProxyPort",
                   "ServerName", "PassiveMode", "ServerPort", "Username", "Password", "ServerDirectory",
                   "ServerWWWName", "ServerWWWDirectory"]

    def test_configuration_3_and_one_file_from_the_working_folder(self):
        with served("start-upload3", ["one", "three", "decoy"]) as (s, root, ftpd, p):
            qptest.write_ini(p.ini, {"Set1": p.section_for(ftpd, "/one/"),
                                     "Set3": p.section_for(ftpd, "/three/")})
            # An INI beside the executable must not be consulted.
            qptest.write_ini(os.path.join(p.prog, "Quillpost.ini"),
                             {"Set3": p.section_for(ftpd, "/decoy/")})
            trace_calls(s, ["kernel32.GetPrivateProfileStringA", "kernel32.SetPriorityClass",
                            "kernelbase.SetPriorityClass"])
            proc, trace = p.start(["3", s.winpath(p.file("mein text.txt", b"drei"))], traced=True)
            s.wait_exit(proc, 60)
            self.assertEqual(os.listdir(os.path.join(root, "three")), ["mein_text.txt"])
            with open(os.path.join(root, "three", "mein_text.txt"), "rb") as f:
                self.assertEqual(f.read(), b"drei")
            self.assertEqual(os.listdir(os.path.join(root, "one")), [])
            self.assertEqual(os.listdir(os.path.join(root, "decoy")), [])
            # The server accepts only the password "pass": the stored form was unscrambled.
            self.assertIn("STOR mein_text.txt", ftpd.commands())
            reads = profile_reads(trace)
            self.assertEqual([r[2] for r in reads[:15]], self.UPLOAD_KEYS)
            self.assertEqual({r[1] for r in reads}, {"Set3"})
            self.assertEqual({r[0] for r in reads}, {s.winpath(p.ini)})
            # Windows later than 4.x: below normal, for the current process.
            priority = [args.split(",") for _, args in traced_calls(trace, "SetPriorityClass")]
            self.assertEqual([(int(h, 16) & 0xFFFFFFFF, int(c, 16)) for h, c in priority],
                             [(0xFFFFFFFF, 0x4000)])

    def test_two_files_in_command_line_order(self):
        with served("start-upload2", ["two"]) as (s, root, ftpd, p):
            qptest.write_ini(p.ini, {"Set2": p.section_for(ftpd, "two")})
            a, b = p.file("b.txt", b"first"), p.file("a.txt", b"second")
            proc, _ = p.start(["2", s.winpath(a), s.winpath(b)])
            s.wait_exit(proc, 60)
            stores = [c for c in ftpd.commands() if c.startswith("STOR")]
            self.assertEqual(stores, ["STOR b.txt", "STOR a.txt"])

    def test_more_than_200_files_are_refused(self):
        with served("start-201", ["up"]) as (s, root, ftpd, p):
            qptest.write_ini(p.ini, {"Set1": p.section_for(ftpd, "up")})
            names = [s.winpath(p.file("f%03d.txt" % i)) for i in range(201)]
            proc, _ = p.start(["1"] + names)
            text = s.answer("Fehler:", qptest.IDOK, timeout=30)
            s.wait_exit(proc, 20)
            self.assertIn("201 Dateien", text)
            self.assertIn("höchstens 200 Dateien", text)
            self.assertEqual(ftpd.commands(), [], "nothing is sent")
            self.assertEqual(os.listdir(os.path.join(root, "up")), [])

    def test_exactly_200_files_are_taken(self):
        with qptest.Session("start-200") as s:
            p = Program(s)
            # A closed port: the run gets past the file count and fails at once
            # on the connection.
            qptest.write_ini(p.ini, {"Set1": {"ServerName": "127.0.0.1", "ServerPort": str(qptest.free_port())}})
            names = [s.winpath(os.path.join(p.local, "f%03d.txt" % i)) for i in range(200)]
            proc, _ = p.start(["1"] + names)
            self.assertEqual(s.answer("Fehler:", qptest.IDOK, timeout=60), NO_CONNECTION)
            s.wait_exit(proc, 20)

    def test_a_first_parameter_that_is_no_number_reads_set0(self):
        with qptest.Session("start-set0") as s:
            p = Program(s)
            trace_calls(s, ["kernel32.GetPrivateProfileStringA"])
            proc, trace = p.start(["drei", s.winpath(p.file("x.txt"))], traced=True)
            self.assertEqual(s.answer("Fehler:", qptest.IDOK, timeout=60), NO_CONNECTION)
            s.wait_exit(proc, 20)
            self.assertFalse(os.path.exists(p.ini), "an upload without settings writes no INI")
            self.assertEqual({r[1] for r in profile_reads(trace)}, {"Set0"})


def visible_windows(session):
    """{hwnd: title} of the visible top-level windows."""
    rows = [line.split("\t", 3) for line in session.driver.ask("list")]
    return {int(hwnd): qptest.unescape(title) for hwnd, visible, _cls, title in rows if visible == "1"}


def control_texts_once_loaded(session, hwnd):
    """Texts of the window's controls once configuration 1 (with a blank
    server name) has been loaded: the name field (control 4) is filled last."""
    def loaded():
        texts = [row[5] for row in session.children(hwnd)]
        return texts if len(texts) > 3 and texts[3] and "ftp.example.com" in texts else None
    return qptest.wait_until(loaded, 20, "configuration 1 in the window")


def close_config_window(session, proc, hwnd):
    """Closes the window with its close box; a close that arrives before the
    window listens for it is repeated."""
    for _ in range(6):
        session.winctl("close", hwnd, check=False)
        try:
            return session.wait_exit(proc, 5)
        except qptest.TimeoutError_:
            continue
    raise qptest.TimeoutError_("the configuration window did not close")


class ConfigurationMode(unittest.TestCase):
    def test_second_start_flashes_the_first_window_and_ends(self):
        with qptest.Session("start-single") as s:
            p = Program(s)
            first, _ = p.start([], name="first")
            hwnd = s.wait_window(CONFIG_TITLE, 60)
            control_texts_once_loaded(s, hwnd)
            before = visible_windows(s)
            trace_calls(s, ["user32.FlashWindow"])
            t0 = time.monotonic()
            second, trace = p.start(["1"], traced=True, name="second")
            seen_during = []
            while second.poll() is None and time.monotonic() - t0 < 30:
                seen_during.append(visible_windows(s))
            s.wait_exit(second, 10)
            elapsed = time.monotonic() - t0

            flashes = traced_calls(trace, "FlashWindow")
            self.assertEqual(len(flashes), 6)
            for _, args in flashes:
                handle, invert = [int(a, 16) for a in args.split(",")]
                self.assertEqual(handle & 0xFFFFFFFF, hwnd & 0xFFFFFFFF)
                self.assertEqual(invert, 1)
            gaps = [b[0] - a[0] for a, b in zip(flashes, flashes[1:])]
            self.assertTrue(all(g >= 0.45 for g in gaps), gaps)
            self.assertGreaterEqual(elapsed, 2.4)
            for windows in seen_during:
                self.assertEqual(set(windows) - set(before), set(), "the second start shows no window")
            self.assertFalse(any(w.startswith(CONFIG_TITLE) and h != hwnd
                                 for seen in seen_during for h, w in seen.items()))
            # The first keeps running with its window.
            self.assertIsNone(first.poll())
            self.assertIn(hwnd, visible_windows(s))
            close_config_window(s, first, hwnd)
            self.assertTrue(os.path.exists(p.ini), "closing the first window saves into the working folder")

    def test_one_parameter_opens_the_window_with_the_working_folders_ini(self):
        with qptest.Session("start-config") as s:
            p = Program(s)
            qptest.write_ini(p.ini, {"Set1": {"ConfigName": "Arbeitsordner"}})
            qptest.write_ini(os.path.join(p.prog, "Quillpost.ini"), {"Set1": {"ConfigName": "Programmordner"}})
            proc, _ = p.start(["5"])
            hwnd = s.wait_window(CONFIG_TITLE, 60)
            texts = control_texts_once_loaded(s, hwnd)
            self.assertIn("Arbeitsordner", texts)
            self.assertNotIn("Programmordner", texts)
            close_config_window(s, proc, hwnd)
            self.assertEqual(qptest.read_ini(os.path.join(p.prog, "Quillpost.ini")),
                             {"Set1": {"ConfigName": "Programmordner"}})

    def test_after_the_first_window_closes_a_new_one_may_open(self):
        with qptest.Session("start-again") as s:
            p = Program(s)
            for run in range(2):
                proc, _ = p.start([], name="run%d" % run)
                hwnd = s.wait_window(CONFIG_TITLE, 60)
                control_texts_once_loaded(s, hwnd)
                close_config_window(s, proc, hwnd)


if __name__ == "__main__":
    unittest.main()
