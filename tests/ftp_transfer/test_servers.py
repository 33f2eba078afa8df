"""Transfers through FtpCommand against real servers on loopback (pyftpdlib
on 127.0.0.1 and on ::1, vsftpd, and an upload through proftpd's mod_proxy),
passive and active, compared byte for byte."""
import ftplib
import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from drive import drive, make_file, md5_file, qptest  # noqa: E402

# Around the send block (256 KiB) and the blocks sent in one turn of the
# message loop (16), besides the small sizes and a large file.
SIZES = [0, 1, 1513, 1514, 1515, 4096, 262143, 262144, 262145, 16 * 262144 + 1, 64 * 1024 * 1024 + 7]


class Files:
    """Local test files of every size, made once per run."""
    dir = None

    @classmethod
    def get(cls):
        if cls.dir is None:
            cls.dir = tempfile.mkdtemp(prefix="qp-xfer-")
            for i, size in enumerate(SIZES):
                make_file(os.path.join(cls.dir, "f%d.bin" % size), size, seed=i)
        return cls.dir


def tearDownModule():
    if Files.dir:
        shutil.rmtree(Files.dir, ignore_errors=True)


def without_dates(listing):
    return [re.sub(r"[A-Z][a-z]{2} +\d+ +(\d\d:\d\d|\d{4})", "DATE", l)
            for l in listing.decode("cp1252").split("\r\n")]


class RealServerCase:
    """Mixed into one TestCase per server: the same script in both modes."""
    host = "127.0.0.1"  # the ServerName the calls connect to

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="qp-srv-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.session = qptest.session_for(self, "ftp-transfer")

    def check_mode(self, server, passive, base, server_dir):
        files = Files.get()
        w = self.session.winpath
        down = os.path.join(self.work, "down-%d" % passive)
        os.makedirs(down)
        listing = os.path.join(self.work, "list-%d.txt" % passive)
        sub = "qp dir %d" % passive
        calls = [("setpassive", int(passive)),
                 ("connect", self.user, self.password, self.host, str(server.port)),
                 ("setbinary", 1),
                 ("setdir", base),
                 ("makedir", sub),
                 ("setdir", sub),
                 ("getdir",)]
        calls += [("upload", w(os.path.join(files, "f%d.bin" % s)), "r%d.bin" % s) for s in SIZES]
        calls += [("getfilesize", "r%d.bin" % s) for s in SIZES]
        calls += [("download", "r%d.bin" % s, w(os.path.join(down, "d%d.bin" % s))) for s in SIZES]
        calls += [("listdir", w(listing)), ("disconnect",)]
        run = drive(self.session, calls, timeout=300)
        n = len(SIZES)
        self.assertEqual(run[0].value, 0, run[0])  # each run is a new process: passive was off
        for row in run.rows[1:6]:
            self.assertEqual(row.value, 1, row)
        self.assertTrue(run[6].value.startswith('257 "%s/%s"' % (base.rstrip("/"), sub)), run[6])
        uploads, sizes, downloads = run.rows[7:7 + n], run.rows[7 + n:7 + 2 * n], run.rows[7 + 2 * n:7 + 3 * n]
        for s, up, size, dl in zip(SIZES, uploads, sizes, downloads):
            self.assertEqual(up.value, 1, up)
            self.assertEqual(size.value, s, size)
            self.assertEqual(dl.value, 1, dl)
            local = os.path.join(files, "f%d.bin" % s)
            want = md5_file(local)
            self.assertEqual(md5_file(os.path.join(server_dir, sub, "r%d.bin" % s)), want, "upload %d" % s)
            self.assertEqual(md5_file(os.path.join(down, "d%d.bin" % s)), want, "download %d" % s)
        self.assertEqual(run[7 + 3 * n].value, 1, run[7 + 3 * n])
        self.assertEqual(run[-1].value, 1, run[-1])
        self.assertEqual(run[-1].flag, 0)

        # The listing file holds the server's LIST output unchanged.
        with ftplib.FTP() as f:
            f.connect(self.host.strip("[]"), server.port, timeout=10)
            f.login(self.user, self.password)
            f.cwd(base)
            f.cwd(sub)
            chunks = []
            f.retrbinary("LIST", chunks.append)
        with open(listing, "rb") as fh:
            got = fh.read()
        self.assertTrue(got.endswith(b"\r\n"))
        self.assertEqual(without_dates(got), without_dates(b"".join(chunks)))

        # Rename, size of a missing file, delete, remove the folder.
        calls = [("setpassive", int(passive)),
                 ("connect", self.user, self.password, self.host, str(server.port)),
                 ("setbinary", 1),  # pyftpdlib answers SIZE only in binary mode
                 ("setdir", base + "/" + sub if base != "/" else "/" + sub),
                 ("rename", "r1.bin", "renamed.bin"),
                 ("getfilesize", "renamed.bin"),
                 ("getfilesize", "r1.bin")]
        calls += [("deletefile", "renamed.bin" if s == 1 else "r%d.bin" % s) for s in SIZES]
        calls += [("setdir", base), ("deletedir", sub), ("setdir", sub), ("disconnect",)]
        run = drive(self.session, calls)
        self.assertEqual([r.value for r in run.rows[1:6]], [1, 1, 1, 1, 1], run.rows)
        self.assertEqual(run[6].value, -1)
        self.assertEqual(run[6].code, 550, run[6])
        self.assertTrue(run[6].text.startswith("550"), run[6])
        for row in run.rows[7:7 + n + 2]:
            self.assertEqual(row.value, 1, row)
        self.assertFalse(os.path.exists(os.path.join(server_dir, sub)))
        self.assertEqual(run[-2].value, 0, run[-2])
        self.assertEqual(run[-2].code, 550, run[-2])
        return run


class PyFtpdTest(RealServerCase, unittest.TestCase):
    user, password = "user", "pass"

    def test_passive_and_active(self):
        root = os.path.join(self.work, "root")
        os.makedirs(root)
        with qptest.PyFtpd(root, self.user, self.password) as server:
            self.check_mode(server, True, "/", root)
            self.check_mode(server, False, "/", root)
            cmds = server.commands()
        self.assertIn("PASV", cmds)
        self.assertTrue(any(re.fullmatch(r"PORT 127,0,0,1,\d+,\d+", c) for c in cmds), cmds)
        self.assertIn("LIST", cmds)  # no argument when the remote path is empty
        self.assertIn("TYPE I", cmds)


class PyFtpdIpv6Test(RealServerCase, unittest.TestCase):
    """The same over IPv6: the data connections are EPSV and EPRT, the
    server's address in brackets as a user may type it."""
    user, password, host = "user", "pass", "[::1]"

    def test_passive_and_active(self):
        root = os.path.join(self.work, "root")
        os.makedirs(root)
        with qptest.PyFtpd(root, self.user, self.password, host="::1") as server:
            self.check_mode(server, True, "/", root)
            self.check_mode(server, False, "/", root)
            cmds = server.commands()
        self.assertIn("EPSV", cmds)
        self.assertTrue(any(re.fullmatch(r"EPRT \|2\|::1\|\d+\|", c) for c in cmds), cmds)
        self.assertFalse([c for c in cmds if re.match(r"PASV|PORT", c)], cmds)


class VsftpdTest(RealServerCase, unittest.TestCase):
    user, password = "anonymous", "qp@example.invalid"

    def test_passive_and_active(self):
        with qptest.Vsftpd(os.path.join(self.work, "vs")) as server:
            self.check_mode(server, True, "/upload", server.upload)
            self.check_mode(server, False, "/upload", server.upload)


class NameEncodingTest(unittest.TestCase):
    """Every subcommand that names a file or folder, with umlauts: UTF-8 on
    the wire to a server that lists UTF8 in FEAT, code page bytes to one that
    does not; names come back (PWD) in the code page either way."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="qp-names-")
        self.session = qptest.Session("ftp-names").__enter__()
        self.local = make_file(os.path.join(self.work, "src.bin"), 5000, seed=3)

    def tearDown(self):
        self.session.__exit__(None, None, None)
        shutil.rmtree(self.work, ignore_errors=True)

    def check(self, server, user, password, base, server_dir, encoding):
        w = self.session.winpath
        down = os.path.join(self.work, "down.bin")
        calls = [("setpassive", 1),
                 ("connect", user, password, "127.0.0.1", str(server.port)),
                 ("setbinary", 1),
                 ("setdir", base),
                 ("makedir", "Übersicht"),
                 ("setdir", "Übersicht"),
                 ("getdir",),
                 ("upload", w(self.local), "Bäume.txt"),
                 ("getfilesize", "Bäume.txt"),
                 ("rename", "Bäume.txt", "Grüße 2026.jpg"),
                 ("download", "Grüße 2026.jpg", w(down)),
                 ("disconnect",)]
        run = drive(self.session, calls)
        self.assertEqual([r.value for r in run.rows[1:6]], [1, 1, 1, 1, 1], run.rows)
        self.assertTrue(run[6].value.startswith('257 "%s/Übersicht"' % base.rstrip("/")), run[6])
        self.assertEqual([r.value for r in run.rows[7:]], [1, 5000, 1, 1, 1], run.rows)
        folder = os.path.join(server_dir.encode(), "Übersicht".encode(encoding))
        self.assertEqual(os.listdir(folder), ["Grüße 2026.jpg".encode(encoding)])
        self.assertEqual(md5_file(os.path.join(folder, "Grüße 2026.jpg".encode(encoding))), md5_file(self.local))
        self.assertEqual(md5_file(down), md5_file(self.local))

        run = drive(self.session, [("connect", user, password, "127.0.0.1", str(server.port)),
                                   ("setdir", base + "/Übersicht" if base != "/" else "/Übersicht"),
                                   ("deletefile", "Grüße 2026.jpg"),
                                   ("setdir", base),
                                   ("deletedir", "Übersicht"),
                                   ("disconnect",)])
        self.assertEqual([r.value for r in run.rows], [1, 1, 1, 1, 1, 1], run.rows)
        self.assertFalse(os.path.exists(folder))

    def test_utf8_server(self):
        root = os.path.join(self.work, "root")
        os.makedirs(root)
        with qptest.PyFtpd(root) as server:
            self.check(server, "user", "pass", "/", root, "utf-8")

    def test_code_page_server(self):
        with qptest.Vsftpd(os.path.join(self.work, "vs")) as server:
            self.check(server, "anonymous", "qp@example.invalid", "/upload", server.upload, "cp1252")


class ProxyTest(unittest.TestCase):
    """Login through proftpd's mod_proxy (target in USER), then an upload
    that must arrive on the target server."""

    def test_upload_through_proxy(self):
        work = tempfile.mkdtemp(prefix="qp-proxy-")
        root = os.path.join(work, "root")
        os.makedirs(root)
        local = make_file(os.path.join(work, "via proxy.bin"), 300000, seed=9)
        try:
            with qptest.Session("ftp-proxy") as s, qptest.PyFtpd(root) as target, \
                    qptest.ProftpdProxy(work) as proxy:
                run = drive(s, [("setproxy", "127.0.0.1", str(proxy.port)),
                                ("setpassive", 1),
                                ("connect", "user", "pass", "127.0.0.1", str(target.port)),
                                ("upload", s.winpath(local), "via_proxy.bin"),
                                ("getfilesize", "via_proxy.bin"),
                                ("disconnect",)])
                self.assertEqual([r.value for r in run.rows],
                                 [0, 0, 1, 1, 300000, 1], run.rows)
                self.assertEqual(md5_file(os.path.join(root, "via_proxy.bin")), md5_file(local))
                self.assertIn("USER user", target.commands())
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
