"""No Wine process keeps the output of a test that did not start it.

Wine's helper processes (services.exe and its services, the desktop's
explorer.exe) keep the Unix standard error of the program that made Wine
start them and outlive it; a test whose output they hold never sees the end
of its output. The cases check the two ways Windows programs are started:
tools/wine-test (how ctest runs test programs) and qptest.Session."""
import os
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qptest  # noqa: E402


def holders(target, prefix):
    """Processes of the Wine prefix that have `target` (a readlink of an
    fd, e.g. "pipe:[123]") open."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=%s" % prefix).encode() + b"\0" not in f.read():
                    continue
            fds = os.listdir("/proc/%s/fd" % pid)
            if any(os.readlink("/proc/%s/fd/%s" % (pid, fd)) == target for fd in fds):
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    found.append(f.read().replace(b"\0", b" ").decode(errors="replace").strip())
        except OSError:
            continue  # ended meanwhile
    return found


class OwnOutput:
    """This process's standard output and error on a pipe of its own while
    inside; what comes through is collected."""

    def __enter__(self):
        sys.stdout.flush()
        sys.stderr.flush()
        self.saved = os.dup(1), os.dup(2)
        read, write = os.pipe()
        self.target = os.readlink("/proc/self/fd/%d" % write)
        os.dup2(write, 1)
        os.dup2(write, 2)
        os.close(write)
        self.data = []
        self.reader = threading.Thread(target=self._drain, args=(read,), daemon=True)
        self.reader.start()
        return self

    def _drain(self, fd):
        with os.fdopen(fd, "rb") as f:
            for chunk in iter(lambda: f.read1(4096), b""):
                self.data.append(chunk)

    def __exit__(self, *exc):
        os.dup2(self.saved[0], 1)
        os.dup2(self.saved[1], 2)
        for fd in self.saved:
            os.close(fd)
        return False


class Output(unittest.TestCase):
    def test_wine_test_gives_helpers_no_pipe(self):
        # A booted prefix with a fresh persistent wineserver and no services
        # yet: the first program makes Wine start them, and they stay.
        s = qptest.session_for(self, "output-wine-test")
        for server in (["wineserver", "-k"], ["wineserver", "-p"]):
            subprocess.run(server, env=s.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        wine_test = os.path.join(qptest.ROOT, "tools", "wine-test")
        p = subprocess.run([wine_test, qptest.exe("winctl.exe"), "nosuch"], env=s.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        # The pipe ended when the program did (run() reads to its end), and
        # the program's output and exit code came through.
        self.assertEqual(p.returncode, 2)
        self.assertIn(b"winctl: unknown command nosuch", p.stdout)

    def test_session_programs_keep_no_test_output(self):
        with OwnOutput() as out:
            s = qptest.session_for(self, "output-session")
            code, text = s.run(qptest.exe("winctl.exe"), ["list"])
            p = s.start(qptest.exe("Quillpost.exe"), [], cwd=s.dir)
            driver = qptest.WindowDriver(s)
            self.addCleanup(driver.close)
            qptest.wait_until(lambda: "Quillpost 1.2" in driver.titles(), 60, "the configuration window")
            held = holders(out.target, s.prefix)
        self.assertEqual(code, 0)
        self.assertEqual(held, [])
        self.assertIsNone(p.poll())


if __name__ == "__main__":
    unittest.main(verbosity=2)
