"""Quillpost.exe set up for end-to-end runs, and upload cases as rows.

Run: a program folder with Quillpost.exe (and the stand-in getsize.exe,
which logs its command line and the channel texts, or the real one), a base
folder with Quillpost.ini, local files; started as the Send-To shortcut
starts it.

Case: one row of an upload test: the server (kind, files it holds, fault
settings), the INI keys of Set1, and one or more runs, each with its local
files, the steps taken while it runs (boxes answered, waits) and what must
hold afterwards (server files, clipboard, commands, history, stand-in log).
`check(test, session, case)` runs a row.
"""
import contextlib
import dataclasses
import os
import re
import shutil
import subprocess
import time
from typing import Any, Callable, Optional

import qptest
from scriptftpd import ScriptedFtpd

STANDIN = os.path.join(qptest.BUILD, "tests", "app_upload", "standin", "getsize.exe")
WWW = "www.example.com"
RUN_LIMIT = 60  # seconds a run may take before the test fails
FAILED = "Der Upload ist fehlgeschlagen!\r\n\r\n"
NO_CONNECTION = "Es konnte keine Verbindung zum Server aufgebaut werden!"

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


@dataclasses.dataclass
class Sparse:
    """A local file of `size` bytes, zero but for `marks` {offset: bytes}."""
    size: int
    marks: dict

    def write(self, path):
        with open(path, "wb") as f:
            f.truncate(self.size)
            for offset, data in self.marks.items():
                f.seek(offset)
                f.write(data)


def program_running(session, name="getsize.exe"):
    """Whether a process of that program runs under this session's Wine."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cmd = read("/proc/%s/cmdline" % pid)
            env = read("/proc/%s/environ" % pid)
        except OSError:
            continue
        if name.encode() in cmd and ("WINEPREFIX=" + session.prefix).encode() + b"\0" in env:
            return True
    return False


def commands_of(server, encoding="cp1252"):
    return list(server.commands) if isinstance(server, ScriptedFtpd) else server.commands(encoding)


class Run:
    """Quillpost.exe in a program folder with getsize.exe beside it (the
    stand-in, the real one, or none), a base folder and local files."""

    def __init__(self, session, name="run", getsize=STANDIN):
        self.s = session
        self.dir = os.path.join(session.dir, name)
        self.prog, self.base, self.local = (os.path.join(self.dir, d) for d in ("prog", "base", "local"))
        for d in (self.prog, self.base, self.local):
            os.makedirs(d)
        self.exe = os.path.join(self.prog, "Quillpost.exe")
        shutil.copy(qptest.exe("Quillpost.exe"), self.exe)
        if getsize:
            shutil.copy(getsize, os.path.join(self.prog, "getsize.exe"))
        self.ini = os.path.join(self.base, "Quillpost.ini")

    def section_for(self, server, password=None, **keys):
        """Set1 as the configuration window stores it, for `server` (a
        fixture, or a port number where nothing or a scripted server listens)."""
        port = server if isinstance(server, int) else server.port
        user = getattr(server, "user", "user")
        password = password or getattr(server, "password", "pass")
        section = {"ServerName": "127.0.0.1", "ServerPort": str(port), "Username": user,
                   "Password": scrambled(self.s, password), "ServerDirectory": "",
                   "ServerWWWName": WWW, "ServerWWWDirectory": "/files/", "PassiveMode": "1",
                   "UseClipboardFunction": "1", "Ask": "0", "DirSel": "0", "DelOld": "0",
                   "DelClick": "0"}
        section.update({k: str(v) for k, v in keys.items()})
        return section

    def configure(self, server, password=None, **keys):
        qptest.write_ini(self.ini, {"Set1": self.section_for(server, password, **keys)})

    def file(self, name, data):
        """A local file (bytes, or a Sparse one); None names a missing file."""
        path = os.path.join(self.local, name)
        if isinstance(data, Sparse):
            data.write(path)
        elif data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path

    def start(self, paths, config="1", name=None):
        args = [config] + [qptest.Session.winpath(p) for p in paths]
        return self.s.start(self.exe, args, cwd=self.base, name=name)

    def run(self, paths, limit=RUN_LIMIT):
        return self.s.wait_exit(self.start(paths), limit)

    def section(self, name="Set1"):
        return qptest.read_ini(self.ini).get(name, {})

    def history(self):
        sec = self.section()
        return [sec.get("History%d" % i, "") for i in range(1, 21)]

    def getsize_log(self):
        path = os.path.join(self.prog, "getsize.log")
        return read(path).decode("cp1252").splitlines() if os.path.exists(path) else []

    def finished_log(self, timeout=20):
        """The stand-in's log once it has ended (it writes "end" when the
        run's window is gone; the run ends it otherwise). A stand-in of an
        earlier case in the session has seen its run's window go too."""
        qptest.wait_until(lambda: not program_running(self.s), timeout, "the stand-in's end")
        return self.getsize_log()


# -- upload cases as rows -------------------------------------------------------

@dataclasses.dataclass
class Upload:
    """One run of a case and what must hold after it. Server paths are
    below the server's root."""
    files: dict = dataclasses.field(default_factory=dict)  # local name -> bytes, Sparse or None (missing)
    steps: list = dataclasses.field(default_factory=list)  # see do_step
    stored: dict = dataclasses.field(default_factory=dict)  # server path -> bytes expected
    absent: tuple = ()                                      # server paths that must not exist
    listing: Optional[tuple] = None                         # (folder, sorted names)
    clipboard: Any = ...                                    # bytes, None (empty) or ... (not checked)
    history: Optional[list] = None                          # History1.. (as many as given)
    section: dict = dataclasses.field(default_factory=dict)  # further keys of Set1 afterwards
    sent: tuple = ()                                        # commands that must have come
    not_sent: tuple = ()                                    # regular expressions no command matches
    counts: dict = dataclasses.field(default_factory=dict)  # command -> how often
    last: Optional[str] = None                              # the last command
    getsize: Optional[str] = None                           # regular expression for the stand-in's command line
    channel: Optional[list] = None                          # the stand-in's later lines ("ready" left out)
    min_seconds: float = 0                                  # the run (to its last step) took longer
    limit: float = RUN_LIMIT
    extra: Optional[Callable] = None                        # extra(test, ctx): further checks


@dataclasses.dataclass
class Case:
    name: str
    runs: list                                             # Upload rows, run one after another
    server: str = "pyftpd"                                 # pyftpd, pyftpd6 (on ::1), vsftpd, proxy, scripted, none
    holds: dict = dataclasses.field(default_factory=dict)  # server path -> bytes, None for a folder
    ini: dict = dataclasses.field(default_factory=dict)
    scripted: dict = dataclasses.field(default_factory=dict)  # ScriptedFtpd(**) and its settings
    pyftpd: dict = dataclasses.field(default_factory=dict)    # PyFtpd(**) options (hash, xmd5, corrupt)
    getsize: str = STANDIN
    utf8: bool = False                                     # commands read as UTF-8, as pyftpdlib reads them


class Context:
    """What the steps and checks of a case see."""

    def __init__(self, session, server, run, limit, encoding):
        self.s, self.server, self.run, self.limit, self.encoding = session, server, run, limit, encoding
        self.proc = self.box = None
        self.started = time.monotonic()
        self.elapsed = self.elapsed_to_exit = 0.0


def serve(case, s, stack):
    kind = case.server
    if kind == "none":
        return None
    if kind == "scripted":
        options = dict(case.scripted)
        settings = {k: options.pop(k) for k in list(options) if k not in ("faults", "files")}
        server = stack.enter_context(ScriptedFtpd(**options))
        for k, v in settings.items():
            setattr(server, k, v)
        return server
    if kind == "vsftpd":
        return stack.enter_context(qptest.Vsftpd(os.path.join(s.dir, "vs")))
    server = stack.enter_context(qptest.PyFtpd(os.path.join(s.dir, "srv"), host="::1" if kind == "pyftpd6" else "127.0.0.1",
                                               **case.pyftpd))
    if kind == "proxy":
        server.proxy = stack.enter_context(qptest.ProftpdProxy(os.path.join(s.dir, "px")))
    return server


def do_step(test, ctx, step):
    """A step while the run goes on: ("answer", caption, button, text),
    ("box", caption, text) and ("press", button) for a box kept open a
    while, ("log", line) waits for a line of the stand-in, ("sent",
    command, n) for the n-th time the server got a command, or a callable
    step(test, ctx). A text containing "{local}" names the local folder."""
    s, kind = ctx.s, step[0] if isinstance(step, tuple) else None
    text = lambda t: t.replace("{local}", qptest.Session.winpath(ctx.run.local))  # noqa: E731
    if kind == "answer":
        _, caption, button, want = step
        test.assertEqual(s.answer(caption, button, timeout=ctx.limit), text(want))
    elif kind == "box":
        ctx.box = s.wait_box(step[1], ctx.limit)
        test.assertEqual(s.box_text(ctx.box), text(step[2]))
    elif kind == "press":
        s.press(ctx.box, step[1])
    elif kind == "log":
        qptest.wait_until(lambda: step[1] in ctx.run.getsize_log(), 30, "stand-in line %r" % step[1])
    elif kind == "sent":
        qptest.wait_until(lambda: commands_of(ctx.server, ctx.encoding).count(step[1]) >= step[2], 30,
                          "%r sent %d times" % (step[1], step[2]))
    else:
        step(test, ctx)


def check(test, s, case):
    """Runs one row: the server, Set1, then each run with its steps and checks."""
    with contextlib.ExitStack() as stack:
        server = serve(case, s, stack)
        for path, data in case.holds.items():
            server.put(path, data)
        run = Run(s, getsize=case.getsize)
        keys = dict(case.ini)
        if case.server == "proxy":
            keys.update(ProxyServer="127.0.0.1", ProxyPort=server.proxy.port)
        if case.server == "vsftpd":
            keys.setdefault("Username", "anonymous")
        run.configure(server or qptest.free_port(), **keys)
        for n, up in enumerate(case.runs):
            with test.subTest(run=n + 1):
                check_run(test, s, case, server, run, up)


def check_run(test, s, case, server, run, up):
    if up.clipboard is None:
        s.clear_clipboard()  # an earlier case's text stays with the session's desktop
    ctx = Context(s, server, run, up.limit, "utf-8" if case.utf8 else "cp1252")
    ctx.proc = run.start([run.file(n, d) for n, d in up.files.items()])
    for step in up.steps:
        do_step(test, ctx, step)
    ctx.elapsed = time.monotonic() - ctx.started
    s.wait_exit(ctx.proc, up.limit)
    ctx.elapsed_to_exit = time.monotonic() - ctx.started
    test.assertGreater(ctx.elapsed, up.min_seconds)
    for path, data in up.stored.items():
        test.assertEqual(server.get(path), data, path)
    for path in up.absent:
        test.assertIsNone(server.get(path), path)
    if up.listing is not None:
        test.assertEqual(server.listdir(up.listing[0]), sorted(up.listing[1]))
    if up.clipboard is not ...:
        test.assertEqual(s.clipboard(), up.clipboard)
    if up.history is not None:
        test.assertEqual(run.history()[:len(up.history)], up.history)
    for key, value in up.section.items():
        test.assertEqual(run.section().get(key, ""), value, key)
    if server is not None:
        cmds = commands_of(server, ctx.encoding)
        for c in up.sent:
            test.assertIn(c, cmds)
        for pattern in up.not_sent:
            test.assertFalse([c for c in cmds if re.search(pattern, c)], pattern)
        for c, n in up.counts.items():
            test.assertEqual(cmds.count(c), n, c)
        if up.last is not None:
            test.assertEqual(cmds[-1], up.last)
    if up.getsize is not None or up.channel is not None:
        log = run.finished_log()
        if up.getsize is not None:
            test.assertRegex(log[0] if log else "", up.getsize)
        if up.channel is not None:
            test.assertEqual([line for line in log[1:] if line != "ready"], up.channel)
    if up.extra:
        up.extra(test, ctx)


def rows(cls, cases, shared=False):
    """Adds a test method per case to a TestCase class: test_<name>, in a
    session of its own, or in the class's shared one (qptest.SharedSession)."""
    for case in cases:
        def test(self, case=case):
            if shared:
                with self.session() as s:
                    check(self, s, case)
            else:
                check(self, qptest.session_for(self, "up-" + case.name[:20]), case)
        test.__name__ = "test_" + case.name
        setattr(cls, test.__name__, test)
    return cls
