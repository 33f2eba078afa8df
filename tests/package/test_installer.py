"""The Windows installer under Wine: tools/package builds
QuillpostSetup-<version>.exe; it installs silently into Program Files, makes
the Send-To shortcuts with the settings folder %APPDATA%\\Quillpost as their
working folder, adds a start-menu entry and an uninstall entry; an upload
started the way Explorer starts an installed shortcut reaches the server and
the clipboard; the silent uninstaller removes everything but the settings."""
import glob
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402

LIMIT = 120
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillpost"
PROGRAMS = ["Quillpost.exe", "getsize.exe", "QuillpostSetup.exe", "LIESMICH.txt"]


def runs_32bit_code():
    """Whether this host executes i386 code: the installer and the programs
    in it are 32-bit, and Wine's 64-bit loader alone cannot run them."""
    try:
        return subprocess.run(["/lib/ld-linux.so.2", "--version"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def build_installer():
    dist = os.path.join(qptest.BUILD, "dist-test")
    env = dict(os.environ, QP_DIST=dist)
    with open(os.path.join(qptest.BUILD, "package-test.log"), "wb") as log:
        subprocess.run([os.path.join(qptest.ROOT, "tools", "package")], env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, timeout=1200)
    found = glob.glob(os.path.join(dist, "QuillpostSetup-*.exe"))
    assert len(found) == 1, found
    return found[0]


@unittest.skipUnless(runs_32bit_code(), "this host cannot execute 32-bit programs")
class Installer(unittest.TestCase):
    def unix(self, s, windows_path):
        """Unix path of a C:\\ path inside the session's prefix."""
        drive, rest = windows_path.split(":", 1)
        self.assertEqual(drive.upper(), "C")
        return os.path.join(s.prefix, "drive_c", *[p for p in rest.split("\\") if p])

    def reg(self, s, *args):
        """reg.exe of the session's Wine; the 32-bit view, where a 32-bit installer writes."""
        code, out = s.run("reg", list(args) + ["/reg:32"], timeout=LIMIT)
        return code, out.decode("cp1252", errors="replace")

    def lnk(self, s, path):
        return dict(line.split("=", 1) for line in s.winctl("lnk", s.winpath(path)).decode("cp1252").splitlines())

    def test_install_upload_uninstall(self):
        installer = build_installer()
        with qptest.Session("installer") as s:
            os.makedirs(os.path.join(s.dir, "srv", "up"))
            with qptest.PyFtpd(os.path.join(s.dir, "srv")) as ftpd:
                self.install_upload_uninstall(s, installer, ftpd)

    def install_upload_uninstall(self, s, installer, ftpd):
        user = os.path.join(s.prefix, "drive_c", "users", os.environ.get("USER", "root"))
        roaming = os.path.join(user, "AppData", "Roaming")
        data = os.path.join(roaming, "Quillpost")
        sendto = os.path.join(roaming, "Microsoft", "Windows", "SendTo")
        menu = os.path.join(roaming, "Microsoft", "Windows", "Start Menu", "Programs")
        # Settings from an earlier installation: configuration 1, named
        # and active, belongs into the Send-To menu.
        os.makedirs(data)
        ini = os.path.join(data, "Quillpost.ini")
        code, pw = s.run(qptest.exe("app_upload_scramble.exe"), [ftpd.password], timeout=LIMIT)
        self.assertEqual(code, 0)
        qptest.write_ini(ini, {"Set1": {
            "ConfigName": "Bilder", "Active": "1", "ServerName": "127.0.0.1", "ServerPort": str(ftpd.port),
            "Username": ftpd.user, "Password": pw.decode("cp1252"), "ServerDirectory": "up",
            "ServerWWWName": "www.example.com", "ServerWWWDirectory": "/files/", "PassiveMode": "1",
            "UseClipboardFunction": "1", "Ask": "0", "DirSel": "0", "DelOld": "0", "DelClick": "0"}})

        code, _ = s.run(installer, ["/S"], timeout=LIMIT)
        self.assertEqual(code, 0)

        # The uninstall entry names the folder; it lies in Program Files.
        code, out = self.reg(s, "query", UNINSTALL_KEY)
        self.assertEqual(code, 0, out)
        values = {}
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2].strip()
        self.assertEqual(values["DisplayName"], "Quillpost 1.2")
        instdir = values["InstallLocation"]
        self.assertRegex(instdir, r"^C:\\Program Files( \(x86\))?\\Quillpost$")
        self.assertEqual(values["UninstallString"], '"%s\\Deinstallieren.exe"' % instdir)
        self.assertEqual(values["QuietUninstallString"], '"%s\\Deinstallieren.exe" /S' % instdir)
        programs = self.unix(s, instdir)
        self.assertEqual(sorted(os.listdir(programs)), sorted(PROGRAMS + ["Deinstallieren.exe"]))
        with open(os.path.join(programs, "LIESMICH.txt"), "rb") as f:
            self.assertIn("Zwischenablage".encode("cp1252"), f.read())

        # Shortcuts as the set-up program makes them: the active one in
        # the Send-To folder, the nine others in the settings folder, all
        # working in the settings folder; the start-menu entry too.
        target = instdir + "\\Quillpost.exe"
        workdir = "C:\\users\\%s\\AppData\\Roaming\\Quillpost" % os.environ.get("USER", "root")
        self.assertEqual([n for n in os.listdir(sendto) if n.startswith("FTP - ")], ["FTP - Bilder.lnk"])
        self.assertEqual(sorted(n for n in os.listdir(data) if n.endswith(".lnk")),
                         sorted("FTP - Upload %d.lnk" % n for n in range(2, 11)))
        links = [(os.path.join(sendto, "FTP - Bilder.lnk"), "1")] + \
            [(os.path.join(data, "FTP - Upload %d.lnk" % n), str(n)) for n in (2, 10)] + \
            [(os.path.join(menu, "Quillpost.lnk"), "")]
        for path, args in links:
            info = self.lnk(s, path)
            self.assertEqual(info["target"].lower(), target.lower(), path)
            self.assertEqual(info["args"], args, path)
            self.assertEqual(info["workdir"].lower(), workdir.lower(), path)

        # An upload as Explorer starts the Send-To entry: its target with
        # its arguments and the chosen file, in its working folder.
        info = self.lnk(s, os.path.join(sendto, "FTP - Bilder.lnk"))
        local = os.path.join(s.dir, "Urlaub 2024.jpg")
        payload = os.urandom(300000)
        with open(local, "wb") as f:
            f.write(payload)
        p = s.start(self.unix(s, info["target"]), [info["args"], s.winpath(local)],
                    cwd=self.unix(s, info["workdir"]))
        self.assertEqual(s.wait_exit(p, LIMIT), 0)
        with open(os.path.join(s.dir, "srv", "up", "Urlaub_2024.jpg"), "rb") as f:
            self.assertEqual(f.read(), payload)
        self.assertEqual(s.clipboard(), b"http://www.example.com/files/Urlaub_2024.jpg")

        # The silent uninstaller keeps the settings and nothing else. It
        # runs on from a copy of itself, so its removals are waited for.
        with open(ini, "rb") as f:
            settings = f.read()
        code, _ = s.run(self.unix(s, instdir + "\\Deinstallieren.exe"), ["/S"], timeout=LIMIT)
        self.assertEqual(code, 0)
        qptest.wait_until(lambda: not os.path.exists(programs), LIMIT, "the program folder removed")
        qptest.wait_until(lambda: self.reg(s, "query", UNINSTALL_KEY)[0] != 0, LIMIT,
                          "the uninstall entry removed")
        self.assertEqual([n for n in os.listdir(sendto) if n.startswith("FTP - ")], [])
        self.assertFalse(os.path.exists(os.path.join(menu, "Quillpost.lnk")))
        self.assertEqual(os.listdir(data), ["Quillpost.ini"])
        with open(ini, "rb") as f:
            self.assertEqual(f.read(), settings)

        # Installed again over the kept settings, then uninstalled by hand:
        # the user agrees to delete the settings, and nothing is left.
        code, _ = s.run(installer, ["/S"], timeout=LIMIT)
        self.assertEqual(code, 0)
        self.assertEqual([n for n in os.listdir(sendto) if n.startswith("FTP - ")], ["FTP - Bilder.lnk"])
        p = s.start(self.unix(s, instdir + "\\Deinstallieren.exe"), [])
        wizard = s.wait_window("Deinstallation von Quillpost", LIMIT)
        s.press(wizard, qptest.IDOK)  # "Deinstallieren"

        def question():
            for line in s.driver.ask("list"):
                hwnd, visible, cls = line.split("\t", 3)[:3]
                if cls == "#32770" and visible == "1" and int(hwnd) != wizard:
                    return int(hwnd)
            return 0
        box = qptest.wait_until(question, LIMIT, "the question about the settings")
        text = qptest.wait_until(lambda: s.box_text(box), 10, "the question's text")
        self.assertIn("Quillpost.ini", text)
        s.press(box, qptest.IDYES)
        qptest.wait_until(lambda: not os.path.exists(data), LIMIT, "the settings folder removed")
        s.press(wizard, qptest.IDOK)  # "Schließen"
        s.wait_exit(p, LIMIT)
        self.assertFalse(os.path.exists(programs))
        self.assertEqual([n for n in os.listdir(sendto) if n.startswith("FTP - ")], [])


if __name__ == "__main__":
    unittest.main()
