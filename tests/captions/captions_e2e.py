"""Every caption of the four windows a user sees shows its whole text in the
font it is drawn with: the configuration window, the info window, the
folder-selection window and the upload window, in the running programs
under Wine.

The programs are test builds of Quillpost.exe and getsize.exe with the
caption probe linked in (caption_probe.cpp): it measures inside the program,
since Wine does not answer WM_GETFONT from another process. Each window is
measured as a whole, so a control added to a window later is measured too.

Screenshots of the four windows go to QP_SHOTS (default build/shots/captions),
with the probe's reports beside them.
"""
import os
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import qptest  # noqa: E402
from uploads import scrambled  # noqa: E402

MEASURE = 0x8000 + 0x51  # WM_APP + 0x51, see caption_probe.cpp
PROBE_BIN = os.path.join(qptest.BUILD, "tests", "captions", "bin")
SHOTS = os.environ.get("QP_SHOTS") or os.path.join(qptest.BUILD, "shots", "captions")
LIMIT = 45
SIZE = 40 * 1024 * 1024  # outlasts the test: the upload is aborted once measured
RATE = 1024 * 1024


class Captions(unittest.TestCase):
    def measure(self, s, window, name, must_have):
        """Measures `window` in its own process; returns the report lines."""
        pid = s.info(window)["pid"]
        probe = s.wait_window("QPCAPTIONPROBE %s" % pid, LIMIT)
        # A window is measured once it is shown and has drawn itself.
        qptest.wait_until(lambda: s.info(window).get("visible") == "1", LIMIT, name + " shown")
        s.winctl("send", window, 0, 0, 0)  # WM_NULL: its queue is through
        misfits = int(s.winctl("send", probe, MEASURE, window, 0))
        with open(self.report, "rb") as f:
            text = f.read().decode("cp1252")
        os.makedirs(SHOTS, exist_ok=True)
        with open(os.path.join(SHOTS, name + ".txt"), "w", encoding="utf-8") as f:
            f.write(text)
        s.screenshot(os.path.join(SHOTS, name + ".png"), window)
        lines = [line.split("\t") for line in text.splitlines()]
        captions = [row[-1] for row in lines]
        for caption in must_have:
            self.assertIn(caption, captions, name)
        # Misfits are gathered, so that one run shows all four windows.
        bad = ["\t".join(row) for row in lines if row[0] != "fit"]
        self.assertEqual(misfits, len(bad), name)
        self.misfits += ["%s: %s" % (name, line) for line in bad]
        return lines

    def test_all_four_windows(self):
        with qptest.Session("captions") as s, qptest.PyFtpd(os.path.join(s.dir, "srv"), rate=RATE) as ftpd:
            ftpd.put("up")
            prog, base = os.path.join(s.dir, "prog"), os.path.join(s.dir, "base")
            os.makedirs(base)
            shutil.copytree(PROBE_BIN, prog)
            self.report = os.path.join(s.dir, "captions.txt")
            self.misfits = []
            s.env["QP_CAPTION_REPORT"] = s.winpath(self.report)
            qptest.write_ini(os.path.join(base, "Quillpost.ini"), {"Set1": {
                "ServerName": "127.0.0.1", "ServerPort": str(ftpd.port), "Username": ftpd.user,
                "Password": scrambled(s, ftpd.password), "ServerDirectory": "up", "ServerWWWName": "www.example.com",
                "ServerWWWDirectory": "/files/", "PassiveMode": "1", "UseClipboardFunction": "1", "Ask": "0",
                "DirSel": "1", "DelOld": "0", "DelClick": "0", "Dirs1": "up",
                # The longest form of the trusted-certificate line.
                "TrustedCertificate": ":".join(["DB"] * 32)}})
            quillpost = os.path.join(prog, "Quillpost.exe")

            # Configuration window, then its info window.
            p = s.start(quillpost, [], cwd=base)
            config = s.wait_window("Quillpost 1.2", LIMIT)
            # The name field is filled last: once it shows, the window is whole.
            qptest.wait_until(lambda: any(k[5] == "Upload 1" for k in s.children(config)), LIMIT,
                              "configuration 1 shown")
            self.measure(s, config, "config", [
                "Bezeichnung:", "Proxyport*", "(Standard ist Port 21)", "Alte Dateien bei Upload löschen",
                "*Optionale Angaben", "Beenden und Einstellungen speichern", "Konfigurationen / Verknüpfungen",
                "Rechtsklick auf Uploadfenster setzt Datei in Löschliste", "&Ordnerwahl vor Upload anbieten",
                "Adresse vor dem Kopieren prüfen", "Verschlüsselung",
                "Vertrautes Zertifikat: " + ":".join(["DB"] * 8) + "…", "Entfernen"])
            by_text = {k[5]: k[0] for k in s.children(config)}
            s.winctl("click", by_text["Über..."])
            info = s.wait_window("Über...", LIMIT)
            qptest.wait_until(lambda: len(s.children(info)) == 13, LIMIT, "the info window built")
            self.measure(s, info, "info", ["Quillpost", "(v.1.2)", "Internet:", "OK"])
            s.winctl("click", by_text["Abbrechen"])
            self.assertEqual(s.wait_exit(p, LIMIT), 0)

            # Folder selection, then the upload window of the upload it starts.
            local = os.path.join(s.dir, "gross.bin")
            with open(local, "wb") as f:
                f.write(os.urandom(SIZE))
            p = s.start(quillpost, ["1", s.winpath(local)], cwd=base)
            folders = s.wait_window("Quillpost 1.2 - Ordnerauswahl", LIMIT)
            kids = s.wait_children(folders, lambda c: any(k[5] == "Upload »" for k in c), LIMIT)
            folder_list = next(k[0] for k in kids if k[1] == 1011)
            qptest.wait_until(lambda: "Lese Verzeichnis..." not in "\n".join(s.driver.items(folder_list)),
                              LIMIT, "the folder list read")
            self.measure(s, folders, "folders", ["Wählen Sie den gewünschten Zielordner:", "aus Verlauf",
                                                 "Doppelklick zum wechseln des Verzeichnisses.", "Upload »"])
            s.winctl("click", next(k[0] for k in kids if k[5] == "Upload »"))
            upload = s.wait_window("Quillpost-Upload", LIMIT)
            kids = s.wait_children(upload, lambda c: {103, 104} <= {k[1] for k in c}, LIMIT)
            status = next(k[0] for k in kids if k[1] == 103)
            qptest.wait_until(lambda: "Bytes/s" in s.get_text(status), LIMIT, "a rate in the upload window")
            lines = self.measure(s, upload, "upload", ["Abbrechen"])
            self.assertTrue(any("Bytes/s" in row[-1] for row in lines), lines)
            s.winctl("click", next(k[0] for k in kids if k[1] == 104))  # "Abbrechen"
            s.wait_exit(p, LIMIT)
            qptest.wait_until(lambda: not s.find_window("Quillpost-Upload"), LIMIT, "the upload window closed")
        self.assertEqual(self.misfits, [], "captions that do not fit")


if __name__ == "__main__":
    unittest.main()
