"""The shortcut set-up program: ten shortcuts that resolve to Quillpost.exe
with the configuration number and the base folder, and a second run that
changes nothing."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402


def snapshot(folder):
    return {n: os.stat(os.path.join(folder, n)).st_mtime_ns for n in os.listdir(folder)}


class SetupProgram(unittest.TestCase):
    def test_creates_resolvable_shortcuts_once(self):
        with qptest.Session("setup") as s:
            base = os.path.join(s.dir, "base")
            os.makedirs(base)
            sendto = os.path.join(s.prefix, "drive_c", "users", os.environ.get("USER", "root"), "AppData",
                                  "Roaming", "Microsoft", "Windows", "SendTo")
            # Configuration 4 was renamed and activated before: its shortcut
            # belongs into the Send-To folder under its stored name.
            qptest.write_ini(os.path.join(base, "Quillpost.ini"),
                             {"Set4": {"ConfigName": "Bilder", "Active": "1"}})
            code, _out = s.run(qptest.exe("QuillpostSetup.exe"), [], cwd=base)
            self.assertEqual(code, 0)

            names = sorted(n for n in os.listdir(base) if n.endswith(".lnk"))
            expected = sorted("FTP - Upload %d.lnk" % n for n in range(1, 11) if n != 4)
            self.assertEqual(names, expected)
            self.assertTrue(os.path.exists(os.path.join(sendto, "FTP - Bilder.lnk")))

            target = s.winpath(os.path.join(os.path.dirname(qptest.exe("QuillpostSetup.exe")), "Quillpost.exe"))
            for n in (1, 4, 10):
                path = os.path.join(sendto, "FTP - Bilder.lnk") if n == 4 else \
                    os.path.join(base, "FTP - Upload %d.lnk" % n)
                info = dict(line.split("=", 1) for line in
                            s.winctl("lnk", s.winpath(path)).decode("cp1252").splitlines())
                self.assertEqual(info["target"].lower(), target.lower())
                self.assertEqual(info["args"], str(n))
                self.assertEqual(info["workdir"].lower(), s.winpath(base).lower())

            ini = qptest.read_ini(os.path.join(base, "Quillpost.ini"))
            self.assertEqual(ini["Set3"]["ConfigName"], "Upload 3")
            self.assertEqual(ini["Set4"]["ConfigName"], "Bilder")

            before, ini_before = snapshot(base), open(os.path.join(base, "Quillpost.ini"), "rb").read()
            code, _out = s.run(qptest.exe("QuillpostSetup.exe"), [], cwd=base)
            self.assertEqual(code, 0)
            self.assertEqual(snapshot(base), before)
            self.assertEqual(open(os.path.join(base, "Quillpost.ini"), "rb").read(), ini_before)


if __name__ == "__main__":
    unittest.main()
