"""Test support for end-to-end tests of Quillpost under Wine.

Session: an isolated desktop for one test: its own Xvfb display, its own copy
of the test bench's booted Wine prefix and its own wineserver, so tests that
look for windows by title, answer message boxes or read the clipboard can run
in parallel. FTP server fixtures bind to 127.0.0.1 only, on free ports.

    with qptest.Session("upload-basic") as s, qptest.PyFtpd(root) as ftpd:
        p = s.start(qptest.exe("Quillpost.exe"), ["1", s.winpath(f)], cwd=base)
        text = s.answer("Fehler:", qptest.IDOK)
        assert s.clipboard() == b"http://..."
"""
import collections
import contextlib
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("QP_BUILD", os.path.join(ROOT, "build"))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
PYTHON = "/usr/bin/python3"

IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7


class TimeoutError_(AssertionError):
    pass


def exe(name):
    """Path of a program built in the build tree (first match)."""
    direct = os.path.join(BUILD, name)
    if os.path.exists(direct):
        return direct
    for dirpath, _dirs, files in os.walk(BUILD):
        if "wineprefix" in dirpath or "/sessions" in dirpath:
            continue
        if name in files:
            return os.path.join(dirpath, name)
    raise FileNotFoundError(name + " not found under " + BUILD)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_port_range(n=10):
    """A run of n consecutive free ports (for passive data connections)."""
    for _ in range(200):
        base = random.randint(20000, 60000 - n)
        ok = True
        for p in range(base, base + n):
            with socket.socket() as s:
                try:
                    s.bind(("127.0.0.1", p))
                except OSError:
                    ok = False
                    break
        if ok:
            return base, base + n - 1
    raise RuntimeError("no free port range")


def wait_until(pred, timeout, what="condition", interval=0.05):
    end = time.monotonic() + timeout
    while True:
        v = pred()
        if v:
            return v
        if time.monotonic() >= end:
            raise TimeoutError_("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def wait_port(port, timeout=10, host="127.0.0.1"):
    def up():
        with socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET) as s:
            s.settimeout(0.2)
            return s.connect_ex((host, port)) == 0
    wait_until(up, timeout, "port %d" % port)


def read_ini(path):
    """INI file as {section: {key: value}} with values as CP1252 text."""
    result, section = {}, None
    if not os.path.exists(path):
        return result
    with open(path, "rb") as f:
        for raw in f.read().decode("cp1252").splitlines():
            line = raw.strip()
            if line.startswith("[") and line.endswith("]"):
                section = result.setdefault(line[1:-1], {})
            elif "=" in line and section is not None:
                k, v = raw.split("=", 1)
                section[k.strip()] = v
    return result


def write_ini(path, sections):
    """Writes {section: {key: value}} as a CP1252 INI file with CR LF."""
    lines = []
    for name, keys in sections.items():
        lines.append("[%s]" % name)
        for k, v in keys.items():
            lines.append("%s=%s" % (k, v))
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))


class Session:
    """Own Xvfb, own Wine prefix copy, own wineserver; cleaned up on exit."""

    def __init__(self, name="session", keep=None):
        self.name = name
        base = os.path.join(BUILD, "sessions")
        os.makedirs(base, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix=name + "-", dir=base)
        self.keep = keep if keep is not None else bool(os.environ.get("QP_KEEP"))
        self.procs = []
        self.xvfb = None
        self._driver = None

    # -- set-up ---------------------------------------------------------
    def __enter__(self):
        try:
            self._start_display()
            self._make_prefix()
            self._start_wineserver()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start_display(self):
        for _ in range(100):
            n = random.randint(100, 900)
            if os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
                continue
            self.xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % n, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                wait_until(lambda: os.path.exists("/tmp/.X11-unix/X%d" % n) or self.xvfb.poll() is not None,
                           10, "Xvfb :%d" % n)
            except TimeoutError_:
                self.xvfb.kill()
                continue
            if self.xvfb.poll() is None:
                self.display = ":%d" % n
                return
        raise RuntimeError("could not start Xvfb")

    def _make_prefix(self):
        template = os.environ.get("QP_WINEPREFIX", os.path.join(BUILD, "wineprefix"))
        self.prefix = os.path.join(self.dir, "prefix")
        if os.path.exists(os.path.join(template, "system.reg")):
            # The Windows folder (about 650 MB of DLLs that nothing writes to)
            # is hard-linked; the registry and user folders are copied.
            os.makedirs(self.prefix)
            for entry in os.listdir(template):
                src = os.path.join(template, entry)
                if entry == "drive_c":
                    os.makedirs(os.path.join(self.prefix, entry))
                    for sub in os.listdir(src):
                        mode = "-al" if sub == "windows" else "-a"
                        subprocess.run(["cp", mode, os.path.join(src, sub), os.path.join(self.prefix, entry)],
                                       check=True)
                else:
                    subprocess.run(["cp", "-a", src, self.prefix], check=True)
            for lock in ("wineserver", ".update-timestamp-lock"):
                with contextlib.suppress(OSError):
                    os.remove(os.path.join(self.prefix, lock))
        else:
            os.makedirs(self.prefix)
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=self.prefix, QP_WINEPREFIX=self.prefix, DISPLAY=self.display,
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8")

    def _start_wineserver(self):
        self.wineserver = subprocess.Popen(["wineserver", "-p", "-f"], env=self.env, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Start Wine's helper processes now, detached from any output pipe.
        boot = ["wineboot"] + ([] if os.path.exists(os.path.join(self.prefix, "system.reg")) else ["-i"])
        subprocess.run([WINE_RUN] + boot, env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        # Windows always has its desktop; Wine ends its own (explorer.exe,
        # which keeps the clipboard) a moment after the last program. One
        # program that waits keeps it, and the clipboard, for the session.
        self.desktop = subprocess.Popen([WINE_RUN, exe("winctl.exe"), "desktop"], env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def __exit__(self, *exc):
        if self._driver:
            self._driver.close()
        for p in self.procs + [getattr(self, "desktop", None)]:
            if p and p.poll() is None:
                with contextlib.suppress(Exception):
                    p.kill()
                    p.wait(5)
        if getattr(self, "env", None):
            subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        if getattr(self, "wineserver", None):
            # A wineserver that outlives the session would keep its Wine
            # processes (and whatever files they hold) running.
            try:
                self.wineserver.wait(10)
            except subprocess.TimeoutExpired:
                self.wineserver.kill()
                self.wineserver.wait(5)
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            with contextlib.suppress(Exception):
                self.xvfb.wait(5)
        if not self.keep and exc[0] is None:
            shutil.rmtree(self.dir, ignore_errors=True)
        elif exc[0] is not None:
            print("session files kept in", self.dir, file=sys.stderr)
        return False

    # -- programs -------------------------------------------------------
    @staticmethod
    def winpath(path):
        """Windows form of a Unix path (drive Z: maps the Unix root)."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def start(self, program, args=(), cwd=None, name=None):
        """Starts a Windows program; output goes to files in the session folder."""
        tag = name or os.path.basename(program)
        out = open(os.path.join(self.dir, "%s-%d.out" % (tag, len(self.procs))), "wb")
        p = subprocess.Popen([WINE_RUN, program] + list(args), cwd=cwd or self.dir, env=self.env,
                             stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        self.procs.append(p)
        return p

    def run(self, program, args=(), cwd=None, timeout=60):
        """Runs a Windows program to its end; returns (exit code, output bytes).
        Output goes through a file: Wine's helper processes inherit the
        program's handles and would hold a pipe open."""
        with tempfile.TemporaryFile(dir=self.dir) as out, tempfile.TemporaryFile(dir=self.dir) as err:
            p = subprocess.Popen([WINE_RUN, program] + [str(a) for a in args], cwd=cwd or self.dir,
                                 env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                code = p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(5)
                raise TimeoutError_("%s %s did not end within %s s" % (os.path.basename(program),
                                                                       " ".join(map(str, args)), timeout))
            out.seek(0)
            err.seek(0)
            self.last_stderr = err.read()
            return code, out.read()

    # -- windows, through one `winctl serve` for the session -------------
    @property
    def driver(self):
        if self._driver is None:
            self._driver = WindowDriver(self)
        return self._driver

    def winctl(self, *args, check=True):
        """One winctl command (the list at the top of winctl.cpp); its answer
        as bytes, lines joined by LF (empty when it failed and check is off)."""
        lines = self.driver.ask(*args, check=check)
        if lines[:1] and lines[0].startswith("!"):
            return b""
        return "\n".join(map(unescape, lines)).encode("cp1252")

    def wait_window(self, title_prefix, timeout=45):
        return self.driver.wait("find", title_prefix, timeout=timeout,
                                what="a window titled %r" % title_prefix)

    def find_window(self, title_prefix):
        return int(self.driver.ask("find", title_prefix)[0])

    def wait_box(self, caption, timeout=45):
        return self.driver.wait_box(caption, timeout)

    def box_text(self, hwnd):
        return self.driver.box_text(hwnd)

    def press(self, hwnd, button_id):
        self.driver.ask("press", hwnd, button_id)

    def answer(self, caption, button_id, timeout=45):
        """Waits for a message box by caption, presses a button, returns its text."""
        return self.driver.answer(caption, button_id, timeout)

    def children(self, hwnd):
        """[(hwnd, id, class, style, exstyle, text)] of a window's children."""
        return [(c.hwnd, c.id, c.cls, c.style, c.exstyle, c.text) for c in self.driver.children(hwnd)]

    def wait_children(self, hwnd, ready, timeout=45, what="the window's controls"):
        """The children of a window once `ready(children)` holds: a window is
        found as soon as it exists, its controls can come a moment later."""
        return wait_until(lambda: (lambda c: c if ready(c) else None)(self.children(hwnd)), timeout, what)

    def info(self, hwnd):
        return dict(unescape(line).split("=", 1) for line in self.driver.ask("info", hwnd))

    def get_text(self, hwnd):
        """The window text, "" once the window is gone."""
        lines = self.driver.ask("text", hwnd, check=False)
        return "" if lines[0].startswith("!") else unescape(lines[0])

    def clipboard(self):
        """The clipboard's CF_TEXT, bytes exactly as stored (None when empty)."""
        for _ in range(3):
            code, out = self.run(exe("winctl.exe"), ["clip"], timeout=30)
            if code != 3:
                return out if code == 0 else None
        raise TimeoutError_("the clipboard stayed locked")

    def clear_clipboard(self):
        """Empties the clipboard, so that text found after a run came from it
        (the desktop, and with it the clipboard, lasts the whole session)."""
        for _ in range(3):
            if self.run(exe("winctl.exe"), ["clearclip"], timeout=30)[0] == 0:
                return
        raise TimeoutError_("the clipboard stayed locked")

    def wait_shown(self, title, timeout=45):
        """A visible top-level window titled exactly `title`. A new process's
        first window can take half a minute under Wine on a busy machine."""
        def find():
            for line in self.driver.ask("list"):
                h, visible, _cls, text = line.split("\t", 3)
                if visible == "1" and unescape(text) == title:
                    return int(h)
            return 0
        return wait_until(find, timeout, "window %r shown" % title)

    # -- the user's keys and mouse, through X -----------------------------
    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30).stdout

    def focus_x(self, title):
        """Gives the X window titled exactly `title` the keyboard focus (there
        is no window manager to activate it)."""
        found = self.xdotool("search", "--name", "^%s$" % title).split()
        if not found:
            raise AssertionError("no X window titled %r" % title)
        self.xdotool("windowfocus", "--sync", found[-1].decode())

    # A program that polls key and button state every few milliseconds
    # misses a shorter press: keys and buttons are held about 100 ms.
    def key(self, name, window=None):
        if window:
            self.focus_x(window)
        for action in ("keydown", "keyup"):
            self.xdotool(action, name)
            time.sleep(0.1)

    def click_at(self, x, y, window=None, button=1, times=1):
        """`times` clicks at x, y. No "mousemove --sync": it waits for the
        pointer to move, which it never does when it stands there already
        (a second click on one item), until xdotool's own limit of 15 s."""
        if window:
            self.focus_x(window)
        self.xdotool("mousemove", x, y)
        time.sleep(0.05)
        for _ in range(times):
            for action in ("mousedown", "mouseup"):
                self.xdotool(action, button)
                time.sleep(0.1)

    def click_into(self, hwnd, window=None):
        """A click into the middle of a window or control."""
        l, t, r, b = self.driver.rect(hwnd)
        self.click_at((l + r) // 2, (t + b) // 2, window)

    def screenshot(self, path, hwnd=None):
        """PNG of the whole screen, or cropped to a window's rectangle."""
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=60,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if hwnd:
            l, t, r, b = map(int, self.info(hwnd)["rect"].split())
            subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (r - l, b - t, max(l, 0), max(t, 0)),
                            "+repage", path], check=True, timeout=60, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def wait_exit(self, proc, timeout=60):
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError_("program did not end within %s s" % timeout)


def session_for(test, name):
    """A session for one test case, ended by the case's clean-up (also when
    the case fails halfway)."""
    s = Session(name).__enter__()
    test.addCleanup(s.__exit__, None, None, None)
    return s


def class_session(cls, name):
    """A session shared by the cases of a test class, run one after another;
    call from setUpClass. It is ended after the class's last case."""
    s = Session(name).__enter__()
    cls.addClassCleanup(s.__exit__, None, None, None)
    return s


class CaseView:
    """A shared session seen by one case: a folder of its own, the rest shared."""

    def __init__(self, session, folder):
        self._session = session
        self.dir = folder

    def __getattr__(self, name):
        return getattr(self._session, name)


class SharedSession(unittest.TestCase):
    """One Wine session for all cases of a class, run one after another;
    `with self.session() as s` gives a case its own folder and ends the
    programs it started."""

    @classmethod
    def setUpClass(cls):
        cls.shared = class_session(cls, cls.__name__.lower())

    @contextlib.contextmanager
    def session(self, name=None):
        folder = os.path.join(self.shared.dir, name or self._testMethodName)
        os.makedirs(folder)
        first = len(self.shared.procs)
        try:
            yield CaseView(self.shared, folder)
        finally:
            for p in self.shared.procs[first:]:
                if p.poll() is None:
                    p.kill()
                    p.wait(5)


# -- one process that answers many questions about windows -------------------

def escape(text):
    """Text as `winctl serve` reads it: tab, CR, LF and backslash escaped."""
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "r": "\r", "n": "\n"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


Control = collections.namedtuple("Control", "hwnd id cls style exstyle x y w h enabled checked text")


class WindowDriver:
    """`winctl serve` running in a session: one Windows process answers all
    questions about windows (commands at the top of winctl.cpp), which saves
    starting a Wine process per question. A session has one (`driver`)."""

    def __init__(self, session):
        # Its standard error goes nowhere: only the answers come through a pipe.
        self.proc = subprocess.Popen([WINE_RUN, exe("winctl.exe"), "serve"], env=session.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     cwd=session.dir)
        # Not one of the session's programs: a shared session ends those after
        # each case, the driver lives on until the session ends (or close()).
        self.lock = threading.Lock()

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)

    def ask(self, *fields, check=True):
        """Sends one command; returns the answer's lines. Every command is
        bounded on the Windows side (message time-outs of a few seconds)."""
        with self.lock:
            self.proc.stdin.write(("\t".join(escape(str(f)) for f in fields) + "\n").encode("cp1252"))
            self.proc.stdin.flush()
            lines = []
            while True:
                raw = self.proc.stdout.readline()
                if not raw:
                    raise AssertionError("winctl serve ended")
                line = raw.decode("cp1252").rstrip("\n")
                if line == ".":
                    break
                lines.append(line)
        if check and lines and lines[0].startswith("!"):
            raise AssertionError("winctl serve: " + lines[0])
        return lines

    def wait(self, *fields, timeout=15, what=None):
        """Repeats a command that answers a window until it answers one."""
        return wait_until(lambda: int(self.ask(*fields)[0]), timeout, what or " ".join(map(str, fields)))

    def children(self, hwnd):
        rows = []
        for line in self.ask("children", hwnd):
            f = line.split("\t", 11)
            rows.append(Control(int(f[0]), int(f[1]), f[2], int(f[3], 16), int(f[4], 16), int(f[5]), int(f[6]),
                                int(f[7]), int(f[8]), f[9] == "1", int(f[10]), unescape(f[11])))
        return rows

    def text(self, hwnd):
        return unescape(self.ask("text", hwnd)[0])

    def items(self, hwnd):
        return [unescape(line) for line in self.ask("items", hwnd)]

    def rect(self, hwnd):
        """Screen rectangle: left, top, right, bottom."""
        return tuple(map(int, self.ask("rect", hwnd)[0].split("\t")))

    def box_text(self, box):
        return unescape(self.ask("boxtext", box)[0])

    def wait_box(self, caption, timeout=15):
        """A message box by caption, once its text is in place."""
        return self.wait("box", caption, timeout=timeout, what="a box captioned %r" % caption)

    def answer(self, caption, button_id=IDOK, timeout=15):
        """Waits for a message box with its text in place, presses a button,
        waits until the box is gone; returns the text."""
        box = self.wait_box(caption, timeout)
        text = self.box_text(box)
        self.ask("press", box, button_id)
        wait_until(lambda: self.ask("exists", box)[0] == "0", timeout, "box %r gone" % caption)
        return text

    def titles(self):
        return [unescape(l.split("\t", 3)[3]) for l in self.ask("list")]


# -- FTP servers -------------------------------------------------------------

class _Server:
    """A server fixture on 127.0.0.1. Files are named by their path below the
    server's root, as text or as bytes (names the code page cannot spell)."""

    def __exit__(self, *exc):
        self.stop()
        return False

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)

    def path(self, name):
        return os.path.join(os.fsencode(self.root) if isinstance(name, bytes) else self.root, name)

    def get(self, name):
        """The stored bytes, or None."""
        with contextlib.suppress(FileNotFoundError, IsADirectoryError):
            with open(self.path(name), "rb") as f:
                return f.read()
        return None

    def put(self, name, data=None):
        """A file with `data`, or a folder when data is None."""
        path = self.path(name)
        os.makedirs(path if data is None else os.path.dirname(path), exist_ok=True)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path

    def listdir(self, folder=""):
        return sorted(os.listdir(self.path(folder)))


class PyFtpd(_Server):
    """pyftpdlib on 127.0.0.1 (or `host` "::1") serving `root`, user/password
    login (and anonymous read-write when anonymous=True). `log` collects the
    session, each line after its Unix time when timeline=True. With `rate` it
    reads uploads at that many bytes per second; with `bursts` an upload
    reaches the disk once a second, as on a server that buffers. `hash`
    (HASH's algorithms, "SHA-256*;MD5"), `xmd5` ("listed" or "unlisted") and
    `corrupt` (the first N uploads damaged) are those of ftpd.py."""

    def __init__(self, root, user="user", password="pass", anonymous=False, port=None, timeline=False,
                 rate=0, bursts=False, hash="", xmd5=None, corrupt=0, host="127.0.0.1"):
        self.root, self.user, self.password, self.anonymous, self.host = root, user, password, anonymous, host
        self.options = (["--anonymous"] if anonymous else []) + (["--timeline"] if timeline else []) + \
            (["--rate", str(rate)] if rate else []) + (["--bursts"] if bursts else []) + \
            (["--hash", hash] if hash else []) + (["--xmd5", xmd5] if xmd5 else []) + \
            (["--corrupt", str(corrupt)] if corrupt else [])
        self.port = port or free_port()
        self.proc = None
        self.log = None

    def __enter__(self):
        os.makedirs(self.root, exist_ok=True)
        lo, hi = free_port_range(10)
        self.log = tempfile.NamedTemporaryFile(prefix="pyftpd-", suffix=".log", delete=False).name
        self.proc = subprocess.Popen(
            [PYTHON, os.path.join(ROOT, "tests", "support", "ftpd.py"), "--host", self.host, "--port", str(self.port),
             "--root", self.root, "--user", self.user, "--password", self.password,
             "--passive", "%d-%d" % (lo, hi)] + self.options,
            stdin=subprocess.DEVNULL, stdout=open(self.log, "wb"), stderr=subprocess.STDOUT)
        wait_port(self.port, host=self.host)
        return self

    def commands(self, encoding="cp1252"):
        """Commands the server received, in order (from its log); pyftpdlib
        itself reads them as UTF-8 (bytes that are none show as U+FFFD)."""
        with open(self.log, "rb") as f:
            return [l.split(b"<- ", 1)[1].strip().decode(encoding, "replace")
                    for l in f.read().splitlines() if b"<- " in l]


class Vsftpd(_Server):
    """vsftpd on 127.0.0.1 with anonymous login; uploads go into the folder
    `upload` of its root (vsftpd refuses a writable anonymous root)."""

    def __init__(self, workdir, port=None, extra=()):
        self.workdir = workdir
        self.port = port or free_port()
        self.proc = None
        self.extra = list(extra)  # further configuration lines; later lines win
        self.root = os.path.join(workdir, "anon")
        self.upload = os.path.join(self.root, "upload")

    def __enter__(self):
        os.makedirs(self.upload, exist_ok=True)
        os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
        os.chown(self.root, 0, 0)
        os.chmod(self.root, 0o755)
        import pwd
        ftp = pwd.getpwnam("ftp")
        os.chown(self.upload, ftp.pw_uid, ftp.pw_gid)
        os.chmod(self.upload, 0o755)
        lo, hi = free_port_range(10)
        self.pasv = (lo, hi)
        conf = os.path.join(self.workdir, "vsftpd.conf")
        with open(conf, "w") as f:
            f.write("\n".join([
                "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", "listen_port=%d" % self.port,
                "background=NO", "anonymous_enable=YES", "anon_root=" + self.root, "write_enable=YES",
                "anon_upload_enable=YES", "anon_mkdir_write_enable=YES", "anon_other_write_enable=YES",
                "anon_umask=022", "no_anon_password=YES", "local_enable=NO", "pasv_enable=YES",
                "pasv_min_port=%d" % lo, "pasv_max_port=%d" % hi, "pasv_address=127.0.0.1",
                "port_enable=YES", "connect_from_port_20=NO", "seccomp_sandbox=NO",
                "secure_chroot_dir=/var/run/vsftpd/empty", "log_ftp_protocol=YES", "xferlog_enable=YES",
                "vsftpd_log_file=" + os.path.join(self.workdir, "vsftpd.log")] + self.extra + [""]))
        os.chown(conf, 0, 0)
        os.chmod(conf, 0o600)
        self.proc = subprocess.Popen(["vsftpd", conf], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        wait_port(self.port)
        return self

    def put(self, name, data=None):
        # Owned by the anonymous user, who may then delete or replace it.
        import pwd
        path = super().put(name, data)
        ftp = pwd.getpwnam("ftp")
        os.chown(path, ftp.pw_uid, ftp.pw_gid)
        return path

    def commands(self, encoding="cp1252"):
        """Commands the server received, in order (from its protocol log)."""
        with open(os.path.join(self.workdir, "vsftpd.log"), "rb") as f:
            return [m.group(1).decode(encoding, "replace")
                    for m in re.finditer(rb'FTP command: Client "[^"]*", "(.*)"\r?$', f.read(), re.M)]


def _proftpd_root():
    """proftpd and mod_proxy unpacked from Debian's packages (not installed:
    they conflict with vsftpd)."""
    dest = os.path.join(BUILD, "opt", "ftpd")
    binary = os.path.join(dest, "usr", "sbin", "proftpd")
    if os.path.exists(binary) and os.path.exists(os.path.join(dest, "usr", "lib", "proftpd", "mod_proxy.so")):
        return dest
    os.makedirs(dest, exist_ok=True)
    debs = tempfile.mkdtemp(prefix="debs-")
    subprocess.run(["apt-get", "download", "proftpd-core", "proftpd-mod-proxy"], cwd=debs, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    for deb in os.listdir(debs):
        subprocess.run(["dpkg-deb", "-x", os.path.join(debs, deb), dest], check=True)
    shutil.rmtree(debs, ignore_errors=True)
    return dest


class ProftpdProxy(_Server):
    """proftpd with mod_proxy as a forward FTP proxy on 127.0.0.1 that takes
    the target in USER (user@127.0.0.1:port)."""

    def __init__(self, workdir, port=None):
        self.workdir = workdir
        self.port = port or free_port()
        self.proc = None

    def __enter__(self):
        root = _proftpd_root()
        run = os.path.join(self.workdir, "proftpd")
        os.makedirs(os.path.join(run, "tables"), exist_ok=True)
        # proftpd refuses a scoreboard in a folder others can write to.
        os.chmod(run, 0o755)
        os.chmod(os.path.join(run, "tables"), 0o777)
        lo, hi = free_port_range(10)
        conf = os.path.join(run, "proxy.conf")
        with open(conf, "w") as f:
            f.write("\n".join([
                "ServerType standalone", "Port %d" % self.port, "DefaultAddress 127.0.0.1",
                "SocketBindTight on", "UseIPv6 off", "User nobody", "Group nogroup",
                "PidFile %s/pid" % run, "ScoreboardFile %s/sb" % run, "DelayTable %s/delay" % run,
                "WtmpLog off", "UseReverseDNS off", "RequireValidShell off",
                "PassivePorts %d %d" % (lo, hi), "MasqueradeAddress 127.0.0.1", "AllowOverwrite on",
                "ModulePath %s/usr/lib/proftpd" % root, "LoadModule mod_proxy.c",
                "<Class loopback>", "  From 127.0.0.0/8", "  ProxyForwardEnabled on", "</Class>",
                "ProxyEngine on", "ProxyTables %s/tables" % run, "ProxyRole forward",
                "ProxyForwardMethod user@host", "ProxyForwardTo ^127\\.0\\.0\\.1:[0-9]+$", ""]))
        env = dict(os.environ, LD_PRELOAD="/usr/lib/x86_64-linux-gnu/libssl.so.3")
        self.proc = subprocess.Popen([os.path.join(root, "usr", "sbin", "proftpd"), "-n", "-c", conf],
                                     env=env, stdin=subprocess.DEVNULL,
                                     stdout=open(os.path.join(run, "log"), "wb"), stderr=subprocess.STDOUT)
        wait_port(self.port)
        return self
