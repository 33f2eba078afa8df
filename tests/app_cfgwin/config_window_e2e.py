"""The configuration window and the info window of the real Quillpost.exe
under Wine, driven from outside as a user would (button clicks, list
selections with their notification, typing, the close box, Escape), with the
INI file and the shortcut files checked afterwards.

Each test has its own session (display, Wine prefix, wineserver), so the
tests can run in parallel: `config_window_e2e.py ConfigWindow.test_name`.
QP_SHOTS=folder keeps screenshots of both windows there."""
import base64
import contextlib
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402
import uploads  # noqa: E402

# An upload that lasts some seconds, so the process list is seen while it runs.
RATE, UPLOAD_SIZE = 400 * 1024, 2 * 1024 * 1024

WM_NULL, WM_COMMAND, WM_CLOSE, WM_SYSCOMMAND, SC_CLOSE = 0, 0x111, 0x10, 0x112, 0xF060
CB_SETCURSEL, CBN_SELCHANGE = 0x14E, 1
EM_GETLIMITTEXT, EM_SETSEL, WM_COPY = 0xD5, 0xB1, 0x301
ES_PASSWORD, ES_NUMBER, ES_AUTOHSCROLL, ES_READONLY = 0x20, 0x2000, 0x80, 0x800
WS_EX_STATICEDGE = 0x20000

# Controls by their number in the window's table (1-based creation order).
GROUP, SELECTOR, NAME, ACTIVE = 1, 2, 4, 5
TRUSTED = 18
SERVER, PORT, DIRECTORY, USER, PASSWORD, PROXY, PROXYPORT, WWW, WWWDIR = range(19, 28)
KEEP, DELCLICK, PASSIVE, CLIPBOARD, ASK, DIRSEL, CHECK, TLS, REMOVE_TRUST = range(28, 37)
SAVE, CANCEL, ABOUT = 40, 41, 42
HELP_FIRST, ICON = 44, 61

# Expected layout: class, caption, x, y, w, h (client pixels; the four group
# members relative to the group box at 7, 67), font (B bold, I italic; seen
# on the screenshots only, see layout_probe.cpp).
GX, GY = 7, 67
LAYOUT = [
    ("Button", "Konfigurationen / Verknüpfungen", 7, 67, 383, 52, ""),
    ("ComboBox", "Konfiguration 1", GX + 11, GY + 20, 120, None, "B"),
    ("Static", "Bezeichnung:", GX + 145, GY + 23, 67, 20, ""),
    ("Edit", None, GX + 213, GY + 22, 80, 18, ""),
    ("Button", "aktiviert", GX + 314, GY + 20, 60, 20, ""),
    ("Static", "FTP-Server", 7, 130, 110, 20, ""),
    ("Static", "FTP-Port", 7, 153, 110, 20, ""),
    ("Static", "(Standard ist Port 21)", 190, 154, 110, 18, "I"),
    ("Static", "FTP-Verzeichnis*", 7, 176, 110, 20, ""),
    ("Static", "FTP-Benutzer", 7, 199, 110, 20, ""),
    ("Static", "FTP-Passwort", 7, 222, 110, 20, ""),
    ("Static", "Proxyserver*", 7, 245, 110, 20, ""),
    ("Static", "Proxyport*", 253, 245, 53, 20, ""),
    ("Static", "HTTP-Server*", 7, 288, 110, 20, ""),
    ("Static", "HTTP-Verzeichnis*", 7, 311, 110, 20, ""),
    ("Static", "Alte Dateien bei Upload löschen", 7, 355, 160, 20, ""),
    ("Static", "Verschlüsselung", 7, 519, 160, 20, ""),
    ("Static", "Vertrautes Zertifikat: keines", 7, 542, 270, 18, ""),
    ("Edit", None, 130, 129, 230, 18, ""),
    ("Edit", None, 130, 152, 50, 18, ""),
    ("Edit", None, 130, 175, 230, 18, ""),
    ("Edit", None, 130, 198, 230, 18, ""),
    ("Edit", None, 130, 221, 230, 18, ""),
    ("Edit", None, 130, 244, 115, 18, ""),
    ("Edit", None, 310, 244, 50, 18, ""),
    ("Edit", None, 130, 287, 230, 18, ""),
    ("Edit", None, 130, 310, 230, 18, ""),
    ("ComboBox", "Keine Dateien löschen", 170, 351, 192, None, ""),
    ("Button", "Rechtsklick auf Uploadfenster setzt Datei in Löschliste", 7, 377, 350, 20, ""),
    ("Button", "&Passiven Modus verwenden", 7, 400, 200, 20, ""),
    ("Button", "&URL nach Upload in die Zwischenablage kopieren", 7, 423, 300, 20, ""),
    ("Button", "&Vor dem Überschreiben fragen", 7, 446, 300, 20, ""),
    ("Button", "&Ordnerwahl vor Upload anbieten", 7, 469, 300, 20, ""),
    ("Button", "Adresse vor dem Kopieren prüfen", 7, 492, 300, 20, ""),
    ("ComboBox", "Keine (normales FTP)", 170, 515, 192, None, ""),
    ("Button", "Entfernen", 282, 539, 80, 20, ""),
    ("Static", "", 7, 274, 383, 4, ""),
    ("Static", "", 7, 339, 383, 4, ""),
    ("Static", "", 7, 590, 383, 4, ""),
    ("Button", "Beenden und Einstellungen speichern", 10, 605, 200, 20, ""),
    ("Button", "Abbrechen", 215, 605, 80, 20, ""),
    ("Button", "Über...", 315, 605, 70, 20, "B"),
    ("Static", "*Optionale Angaben", 5, 567, 110, 18, "I"),
] + [("Button", "?", 370, y, 20, 19, "") for y in (129, 152, 175, 198, 221, 244, 287, 310, 353, 379, 402,
                                                 425, 448, 471, 494, 517)] + [
    ("Static", "Hier können Sie Quillpost konfigurieren. Zum Dateiupload nutzen Sie die Funktion "
               "\"Senden an\" beim Rechtsklick auf eine beliebige Datei.", 7, 12, 310, 40, ""),
    ("Static", "", 337, 9, 48, 48, ""),
]

# Help boxes in the order of the "?" buttons from top to bottom.
HELP = [
    "Diese Option legt fest, auf welchem FTP-Server zugegriffen werden soll. Es kann\r\n"
    "die Domain oder die IP-Adresse verwendet werden. Das verwendete Protokoll\r\n"
    "(ftp://) darf nicht in den Servernamen integriert werden.",
    "Diese Option legt den Port des Servers fest. Normalerweise sollte hier der Port 21\r\n"
    "stehen. Ändern Sie diese Angabe nur, wenn der Server einen anderen Port\r\nverwendet!",
    "Hier legen Sie fest, in welches Verzeichnis auf dem Server die Datei geladen werden\r\n"
    "soll. Ein Beispiel hierfür ist /home/meinordner.",
    "Geben Sie hier den Benutzernamen an, den Sie für den Server benötigen. Wenn der Server\r\n"
    "eine anonyme Anmeldung zulässt, wählen Sie den Benutzernamen anonymous.",
    "Geben Sie hier das Passwort ein, das Sie für den Zugriff auf den Server benötigen. Wenn\r\n"
    "Sie sich anonym anmelden können, sollte das Passwort Ihrer Emailadresse entsprechen.",
    "Falls Sie über einen Proxy-Server online sind, geben Sie diesen hier an.",
    "Diese Einstellung legt fest, unter welchem Namen der Server über das HTTP-Protokoll\r\n"
    "erreichbar ist. Der Webservername muss nicht mit dem FTP-Servername überein-\r\n"
    "stimmen, geben Sie ihn in diesem Fall hier an.",
    "Diese Einstellung legt das Serververzeichnis fest. In der Regel geben Sie hier\r\n"
    "das Gleiche wie bei \"FTP-Verzeichnis\" an. Es ist jedoch auch möglich, hier einen\r\n"
    "abweichenden Pfad anzugeben.",
    "Um nicht zu viele Dateien auf dem Server anzuhäufen, wird mit dieser Funktion bei jedem\r\n"
    "Upload die jeweils letzte, vorletzte oder drittletzte usw. Datei gelöscht.\r\n\r\n"
    "Dies bezieht sich nur auf mit Quillpost hochgeladene Dateien, schon auf dem Server\r\n"
    "befindliche Dateien werden nicht gelöscht. In der INI-Datei werden zu löschende Dateien\r\n"
    "erfasst.",
    "Bei gewählter Löschfunktion werden dennoch nur Dateien auf die Löschliste\r\n"
    "gesetzt, die Sie mit Rechtsklick auf das Upload-Fenster bestimmen.\r\n\r\n"
    "Die Farbe des Fortschrittbalkens färbt sich zur Signalisierung.",
    "Manche Server arbeitet nur im passiven Modus, in dem Fall ist diese Option zu wählen.",
    "Hier legen Sie fest, ob die Zwischenablagefunktion benutzt werden soll. In diesem Fall\r\n"
    "wird der Serverdateiname in die Zwischenablage kopiert, damit Sie diesen zum Beispiel\r\n"
    "im ICQ-Nachrichtenfenster einfügen können.",
    "Existiert eine Datei schon auf dem Server, so wird vorher gefragt, ob diese\r\n"
    "überschrieben werden soll. Ist die Option nicht gewählt so werden Dateien\r\n"
    "immer ohne Rückfrage überschrieben.",
    "Zeigt vor jedem Upload einen Dialog an, in dem Sie das Zielverzeichnis auf\r\n"
    "dem Server auswählen können. Startverzeichnis ist das oben gewählte.",
    "Vor dem Kopieren in die Zwischenablage wird jede Adresse beim Webserver abgefragt.\r\n"
    "Nur Adressen, unter denen er die hochgeladene Datei ausliefert, werden kopiert; für\r\n"
    "die übrigen nennt eine Meldung den Grund. Prüfen Sie dann \"HTTP-Server\" und\r\n"
    "\"HTTP-Verzeichnis\". Für https-Adressen geben Sie den HTTP-Server mit https:// an.",
    "Hier legen Sie fest, ob Anmeldung und Dateien verschlüsselt übertragen werden (FTPS).\r\n"
    "Bei \"Explizites FTPS\" wird die Verbindung nach AUTH TLS verschlüsselt, meist auf\r\n"
    "Port 21. Bei \"Implizites FTPS\" ist sie von Anfang an verschlüsselt, meist auf Port\r\n"
    "990. Der Server muss die gewählte Art anbieten, sonst wird nichts übertragen.\r\n\r\n"
    "Das Zertifikat des Servers wird geprüft. Ist es nicht vertrauenswürdig (zum Beispiel\r\n"
    "selbst signiert), abgelaufen oder für einen anderen Namen ausgestellt, werden Sie vor\r\n"
    "der Anmeldung gefragt, ob Sie ihm für diese Konfiguration vertrauen. Das vertraute\r\n"
    "Zertifikat wird unten angezeigt; mit \"Entfernen\" wird beim nächsten Upload wieder\r\n"
    "gefragt.",
]

ENCRYPTION = ["Keine (normales FTP)", "Explizites FTPS (AUTH TLS)", "Implizites FTPS (Port 990)"]
NO_CERTIFICATE = "Vertrautes Zertifikat: keines"
FINGERPRINT = ":".join("%02X" % (i * 7 % 256) for i in range(32))
BASE64 = set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=")


def protected_form(value):
    """A password stored by Windows' encryption: base64, longer than any
    scrambled form."""
    return len(value) > 35 and set(value) <= BASE64

KEEP_ENTRIES = ["Keine Dateien löschen", "Eine Datei beibehalten", "2 Dateien beibehalten",
                "3 Dateien beibehalten", "5 Dateien beibehalten", "10 Dateien beibehalten",
                "20 Dateien beibehalten"]

TOOLTIP = 'Quillpost 1.2 - Dateien per "Senden an" hochladen'

SAVED_KEYS = {"Active", "UseClipboardFunction", "DelOld", "PassiveMode", "ServerName", "ServerPort",
              "Username", "Password", "ServerDirectory", "ServerWWWName", "ServerWWWDirectory",
              "ProxyServer", "ProxyPort", "Ask", "DirSel", "DelClick", "UseTLS", "CheckAddress"}

RULE_TOP, RULE_BOTTOM = "_" * 43, "\u00af" * 43


def etched(row):
    """An etched line, which Wine shapes itself: two pixels high, two wider."""
    return row.cls.lower() == "static" and row.style & 0x1F == 0x10


def wine_command_lines(session):
    """Linux's view: the command lines of this session's Wine processes
    (those started with its prefix), NUL-separated arguments joined by
    blanks."""
    lines = []
    mark = ("WINEPREFIX=" + session.prefix).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if mark not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                lines.append(f.read().replace(b"\0", b" ").decode("utf-8", "replace"))
        except OSError:  # gone meanwhile, or not ours to read
            continue
    return lines


class Window:
    """A running Quillpost window (configuration or info window) seen from outside."""

    def __init__(self, session, hwnd, main=None, title="Quillpost 1.2"):
        self.s, self.d, self.hwnd, self.title = session, session.driver, hwnd, title
        self.main = main or hwnd  # the configuration window, which runs the event loop

    def controls(self):
        return self.d.children(self.hwnd)

    def items(self, number):
        return self.d.items(self.ctl(number).hwnd)

    def ctl(self, number):
        return self.controls()[number - 1]

    def wait_for(self, pred, what, timeout=15):
        """Polls the controls until pred(controls) holds; returns them. The
        program learns of changes only through events; while none comes, an
        empty message (as a mouse move would) lets it look again."""
        nudge = [time.monotonic() + 1]

        def holds():
            c = self.controls()
            if pred(c):
                return c
            if time.monotonic() >= nudge[0]:
                self.d.ask("post", self.main, WM_NULL, 0, 0)
                nudge[0] = time.monotonic() + 1
            return None
        return qptest.wait_until(holds, timeout, what)

    def click(self, number):
        self.d.ask("click", self.ctl(number).hwnd)

    def press(self, button, done, what, timeout=15):
        """Clicks a push button (number or handle) until done() holds. A
        click that comes while the program is busy between two waits is lost,
        as it would be for a user, so it is repeated."""
        hwnd = self.ctl(button).hwnd if button <= len(LAYOUT) else button
        end = time.monotonic() + timeout
        while True:
            # The button is gone once an earlier click has been handled.
            self.d.ask("click", hwnd, check=False)
            try:
                return qptest.wait_until(done, 1, what)
            except qptest.TimeoutError_:
                if time.monotonic() >= end:
                    raise

    def select(self, number, index):
        """Chooses a list entry the way the list reports a user's choice."""
        c = self.ctl(number)
        self.d.ask("send", c.hwnd, CB_SETCURSEL, index, 0)
        self.d.ask("post", self.hwnd, WM_COMMAND, (CBN_SELCHANGE << 16) | c.id, c.hwnd)

    def type_into(self, number, text):
        c = self.ctl(number)
        self.d.ask("settext", c.hwnd, "")
        self.s.click_into(c.hwnd, self.title)
        self.s.xdotool("type", "--delay", "30", text)
        qptest.wait_until(lambda: self.d.text(c.hwnd) == text, 15, "typed text %r" % text)


class ConfigWindow(unittest.TestCase):
    def session(self, name):
        s = qptest.session_for(self, "cfgwin-" + name)
        self.driver = s.driver
        self.base = os.path.join(s.dir, "base")
        os.makedirs(self.base)
        self.ini_path = os.path.join(self.base, "Quillpost.ini")
        return s

    def open_window(self, s):
        self.proc = s.start(qptest.exe("Quillpost.exe"), [], cwd=self.base)
        w = Window(s, s.wait_shown("Quillpost 1.2", 60))
        # Built and configuration 1 loaded.
        w.wait_for(lambda c: len(c) == len(LAYOUT) and c[NAME - 1].text != "", "configuration 1 shown", 30)
        return w

    def open_info(self, s, w):
        w.press(ABOUT, lambda: "Über..." in self.driver.titles(), "info window")
        info = Window(s, s.wait_shown("Über...", 30), main=w.hwnd, title="Über...")
        return info, info.wait_for(lambda c: len(c) == 13, "info window built")

    def ini(self):
        return qptest.read_ini(self.ini_path)

    def shot(self, s, hwnd, name):
        folder = os.environ.get("QP_SHOTS")
        if folder:
            os.makedirs(folder, exist_ok=True)
            s.screenshot(os.path.join(folder, name), hwnd)

    def exited(self):
        return self.proc.poll() is not None

    def assert_exits(self, s):
        self.assertEqual(s.wait_exit(self.proc, 20), 0)

    # ------------------------------------------------------------------
    def test_layout_defaults_and_save_button(self):
        s = self.session("layout")
        w = self.open_window(s)
        c = w.controls()

        l, t, r, b = self.driver.rect(w.hwnd)
        self.assertEqual(r - l, 400)
        self.assertGreaterEqual(b - t, 661)

        self.assertEqual(len(c), len(LAYOUT))
        for n, (row, exp) in enumerate(zip(c, LAYOUT), start=1):
            cls, text, x, y, width, height, _font = exp
            with self.subTest(control=n):
                self.assertEqual(row.cls.lower(), cls.lower())
                if text is not None:
                    self.assertEqual(row.text, text)
                self.assertEqual((row.x, row.y), (x, y))
                if etched(row):
                    self.assertIn((row.w, row.h), ((width, height), (width + 2, 2)))
                else:
                    self.assertEqual(row.w, width)
                    if height is not None:
                        self.assertEqual(row.h, height)
        edits = [c[n - 1] for n in (NAME,) + tuple(range(SERVER, WWWDIR + 1))]
        for e in edits:
            self.assertTrue(e.exstyle & WS_EX_STATICEDGE)
            self.assertTrue(e.style & ES_AUTOHSCROLL)
        self.assertTrue(c[PASSWORD - 1].style & ES_PASSWORD)
        self.assertEqual([bool(c[n - 1].style & ES_NUMBER) for n in range(SERVER, WWWDIR + 1)],
                         [False, True, False, False, False, False, True, False, False])
        limits = {n: int(self.driver.ask("send", c[n - 1].hwnd, EM_GETLIMITTEXT, 0, 0)[0]) for n in (NAME, DIRECTORY, WWWDIR)}
        self.assertEqual(limits, {NAME: 20, DIRECTORY: 255, WWWDIR: 255})
        for n in range(HELP_FIRST, HELP_FIRST + len(HELP)):
            self.assertTrue(c[n - 1].exstyle & WS_EX_STATICEDGE)
        self.assertEqual(c[ICON - 1].id, 31000)
        self.assertEqual(w.items(SELECTOR), ["Konfiguration %d" % n for n in range(1, 11)])
        self.assertEqual(w.items(KEEP), KEEP_ENTRIES)
        self.assertEqual(w.items(TLS), ENCRYPTION)

        # Defaults of an empty INI.
        shown = {n: c[n - 1].text for n in (NAME, SERVER, PORT, DIRECTORY, USER, PASSWORD, PROXY, PROXYPORT,
                                            WWW, WWWDIR)}
        self.assertEqual(shown, {NAME: "Upload 1", SERVER: "ftp.example.com", PORT: "21", DIRECTORY: "",
                                 USER: "Anonymous", PASSWORD: "tinsel", PROXY: "", PROXYPORT: "",
                                 WWW: "www.example.com", WWWDIR: ""})
        self.assertEqual([c[n - 1].checked for n in (ACTIVE, DELCLICK, PASSIVE, CLIPBOARD, ASK, DIRSEL, TLS,
                                                     CHECK)], [0] * 8)
        self.assertEqual((c[SELECTOR - 1].checked, c[KEEP - 1].checked), (0, 0))
        self.assertFalse(c[DELCLICK - 1].enabled)
        self.assertFalse(c[REMOVE_TRUST - 1].enabled)
        self.assertTrue(c[KEEP - 1].enabled and c[WWWDIR - 1].enabled)
        self.assertFalse(os.path.exists(self.ini_path))
        self.shot(s, w.hwnd, "config-window.png")

        # The icon has a tooltip: resting the mouse on it shows the tip.
        def tip_shown():
            return any(l.split("\t")[2:] == ["tooltips_class32", TOOLTIP] for l in self.driver.ask("list"))
        s.focus_x("Quillpost 1.2")
        self.assertFalse(tip_shown())
        il, it, ir, ib = self.driver.rect(c[ICON - 1].hwnd)
        s.xdotool("mousemove", "--sync", (il + ir) // 2, (it + ib) // 2)
        qptest.wait_until(tip_shown, 10, "the icon's tooltip")

        w.select(TLS, 1)
        w.wait_for(lambda c: c[TLS - 1].checked == 1, "explicit FTPS chosen")
        w.click(CHECK)
        w.wait_for(lambda c: c[CHECK - 1].checked == 1, "address check checked")
        w.press(SAVE, self.exited, "program end")
        self.assert_exits(s)
        set1 = self.ini()["Set1"]
        self.assertEqual(set(set1), SAVED_KEYS | {"ConfigName"})
        self.assertEqual({k: set1[k] for k in ("ConfigName", "ServerName", "ServerPort", "Username",
                                               "ServerWWWName", "DelOld", "Active", "DirSel", "DelClick",
                                               "UseTLS", "CheckAddress")},
                         {"ConfigName": "Upload 1", "ServerName": "ftp.example.com", "ServerPort": "21",
                          "Username": "Anonymous", "ServerWWWName": "www.example.com", "DelOld": "0",
                          "Active": "0", "DirSel": "0", "DelClick": "0", "UseTLS": "1",
                          "CheckAddress": "1"})
        self.assertTrue(protected_form(set1["Password"]), set1["Password"])

    # -- scenarios as steps -------------------------------------------------
    def play(self, s, w, steps, sendto=None):
        """Runs steps against the window: ("select", control, index),
        ("click", control), ("type", control, text), ("shows", {control:
        value}) waits until each control shows its value (a text, an int
        for its check or selection, a bool for enabled, or a tuple of
        these), ("ini", section, {key: value}), ("file", path, exists)
        with "SENDTO/" or "BASE/" in front, ("answer", text) for the
        "Achtung:" box."""
        def holds(row, want):
            for v in want if isinstance(want, tuple) else (want,):
                got = row.enabled if isinstance(v, bool) else row.checked if isinstance(v, int) else row.text
                if got != v:
                    return False
            return True
        for step in steps:
            kind, args = step[0], step[1:]
            with self.subTest(step=step):
                if kind == "select":
                    w.select(*args)
                elif kind == "click":
                    w.click(*args)
                elif kind == "type":
                    w.type_into(*args)
                elif kind == "shows":
                    w.wait_for(lambda c: all(holds(c[n - 1], v) for n, v in args[0].items()), repr(args[0]))
                elif kind == "ini":
                    self.assertEqual({k: self.ini()[args[0]].get(k) for k in args[1]}, args[1])
                elif kind == "file":
                    path = args[0].replace("SENDTO", sendto or "").replace("BASE", self.base)
                    self.assertEqual(os.path.exists(path), args[1], path)
                elif kind == "answer":
                    self.assertEqual(self.driver.answer("Achtung:"), args[0])

    def test_switch_saves_shown_configuration_and_cancel_does_not(self):
        s = self.session("switch")
        qptest.write_ini(self.ini_path, {"Set3": {"ServerName": "host3.example", "DelOld": "4", "UseTLS": "1"}})
        w = self.open_window(s)
        self.play(s, w, [
            ("type", SERVER, "FTP://Host.Example"), ("select", SELECTOR, 2),
            ("shows", {NAME: "Upload 3", SERVER: "host3.example", KEEP: 4, TLS: 1, DELCLICK: True}),
            ("ini", "Set1", {"ServerName": "host.example"}),
            # Name and password of configuration 3, stored when it is left: a
            # long password whole, in the protected form.
            ("type", NAME, "My:Files?"), ("type", PASSWORD, "abcdefghij" * 4), ("select", SELECTOR, 0),
            ("shows", {NAME: "Upload 1"}), ("ini", "Set3", {"ConfigName": "My_Files_"}), ("select", SELECTOR, 2),
            ("shows", {NAME: "My_Files_", PASSWORD: "abcdefghij" * 4})])
        self.assertEqual(set(self.ini()["Set1"]), SAVED_KEYS | {"ConfigName"})
        self.assertTrue(protected_form(self.ini()["Set3"]["Password"]), self.ini()["Set3"]["Password"])
        # "Abbrechen" leaves without storing the shown configuration.
        before = open(self.ini_path, "rb").read()
        w.type_into(SERVER, "changed.example")
        w.press(CANCEL, self.exited, "program end")
        self.assert_exits(s)
        self.assertEqual(open(self.ini_path, "rb").read(), before)

    def test_couplings_and_close_box(self):
        s = self.session("couplings")
        w = self.open_window(s)
        self.play(s, w, [
            # Keep list: deleting old files enables the right-click box.
            ("select", KEEP, 4), ("shows", {DELCLICK: True}), ("click", DELCLICK), ("shows", {DELCLICK: 1}),
            # Folder selection: keep list back to nothing, list and web
            # directory disabled; the right-click box follows the list and
            # keeps its check.
            ("click", DIRSEL), ("shows", {KEEP: (False, 0), WWWDIR: False, DELCLICK: (False, 1)}),
            ("click", DIRSEL), ("shows", {KEEP: (True, 0), WWWDIR: True, DELCLICK: False}),
            ("select", KEEP, 4), ("shows", {DELCLICK: True}),
            ("select", KEEP, 0), ("shows", {DELCLICK: (False, 1)}),
            ("click", PASSIVE), ("shows", {PASSIVE: 1})])
        # The close box saves like the save button. Without a window manager
        # the frame is not drawn, so the close box's command is sent instead.
        self.driver.ask("post", w.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0)
        self.assert_exits(s)
        self.play(s, w, [("ini", "Set1", {"DelOld": "0", "DelClick": "1", "DirSel": "0", "PassiveMode": "1",
                                          "ConfigName": "Upload 1"})])
        self.assertEqual(set(self.ini()["Set1"]), SAVED_KEYS | {"ConfigName"})

    def test_activation_and_rename_move_shortcuts(self):
        s = self.session("shortcuts")
        code, _ = s.run(qptest.exe("QuillpostSetup.exe"), [], cwd=self.base)
        self.assertEqual(code, 0)
        sendto = os.path.join(s.prefix, "drive_c", "users", os.environ.get("USER", "root"), "AppData",
                              "Roaming", "Microsoft", "Windows", "SendTo")
        w = self.open_window(s)
        self.play(s, w, [
            ("file", "BASE/FTP - Upload 2.lnk", True),
            # Activation and rename in one save: moved under the old name,
            # then renamed there.
            ("select", SELECTOR, 1), ("shows", {NAME: "Upload 2"}), ("click", ACTIVE), ("shows", {ACTIVE: 1}),
            ("type", NAME, "Bilder"), ("select", SELECTOR, 2), ("shows", {NAME: "Upload 3"}),
            ("file", "SENDTO/FTP - Bilder.lnk", True), ("file", "BASE/FTP - Upload 2.lnk", False),
            ("ini", "Set2", {"Active": "1", "ConfigName": "Bilder"}),
            # The same name for configuration 3: the warning, the old name
            # kept, the rest saved (its activation moves it under the old name).
            ("click", ACTIVE), ("shows", {ACTIVE: 1}), ("type", NAME, "Bilder"), ("type", PORT, "2121"),
            ("select", SELECTOR, 0),
            ("answer", "Die Bezeichnung Bilder existiert schon!\r\n\r\n"
                       "Die restlichen Daten werden aktualisiert und die alte Bezeichnung beibehalten."),
            ("shows", {NAME: "Upload 1"}), ("ini", "Set3", {"ConfigName": "Upload 3", "Active": "1", "ServerPort": "2121"}),
            ("file", "SENDTO/FTP - Upload 3.lnk", True), ("file", "SENDTO/FTP - Bilder.lnk", True),
            # Deactivating configuration 2 parks its shortcut in the base folder.
            ("select", SELECTOR, 1), ("shows", {NAME: "Bilder"}), ("click", ACTIVE), ("shows", {ACTIVE: 0})],
            sendto)
        w.press(SAVE, self.exited, "program end")
        self.assert_exits(s)
        self.play(s, w, [("file", "BASE/FTP - Bilder.lnk", True), ("file", "SENDTO/FTP - Bilder.lnk", False),
                         ("ini", "Set2", {"Active": "0"})], sendto)

    def test_passwords_saved_and_used_for_login(self):
        # Shown, saved in the protected form, shown again and taken by the
        # server: older scrambled forms in the file (one beginning, one
        # ending with a blank, so quoted) and a typed password with blanks.
        s = self.session("passwords")
        prog = os.path.join(s.dir, "prog")
        os.makedirs(prog)
        shutil.copy(qptest.exe("Quillpost.exe"), prog)
        shutil.copy(uploads.STANDIN, prog)
        root = os.path.join(s.dir, "srv")
        os.makedirs(root)
        rows = [("Yellow42", '" 76TJbLe"'), ("Wasabi", '"Y \xc0hH "'), ("Mein Pass 1", None)]
        for n, (password, older) in enumerate(rows):
            with self.subTest(password=password), qptest.PyFtpd(root, user="anna", password=password) as ftpd:
                section = {"ServerName": "127.0.0.1", "ServerPort": str(ftpd.port), "Username": "anna",
                           "PassiveMode": "1", "UseClipboardFunction": "0"}
                if older:
                    section["Password"] = older
                qptest.write_ini(self.ini_path, {"Set1": section})
                w = self.open_window(s)
                if older:
                    self.assertEqual(w.ctl(PASSWORD).text, password)
                else:
                    w.type_into(PASSWORD, password)
                w.press(SAVE, self.exited, "program end")
                self.assert_exits(s)
                value = self.ini()["Set1"]["Password"]
                self.assertTrue(protected_form(value), value)
                w = self.open_window(s)
                self.assertEqual(w.ctl(PASSWORD).text, password)
                w.press(CANCEL, self.exited, "program end")
                self.assert_exits(s)

                local = os.path.join(s.dir, "file%d.txt" % n)
                with open(local, "wb") as f:
                    f.write(password.encode())
                p = s.start(os.path.join(prog, "Quillpost.exe"), ["1", qptest.Session.winpath(local)],
                            cwd=self.base)
                self.assertEqual(s.wait_exit(p, 60), 0)
                with open(os.path.join(root, "file%d.txt" % n), "rb") as f:
                    self.assertEqual(f.read(), password.encode())
                self.assertIn("USER anna", ftpd.commands())

    def test_long_password_protected_and_on_no_command_line(self):
        # A password manager's password, typed into the window: stored by
        # Windows' encryption, used by Quillpost.exe and by the real
        # getsize.exe (which reads it from the configuration), and never
        # on the command line of any process of this session's Wine, as
        # Linux and as Windows see them, while the upload runs.
        secret = "Kette$9'Zitat\"Back\\slash`Tick-44-Zeichen!xyz"
        self.assertEqual(len(secret), 44)
        s = self.session("cmdlines")
        prog = os.path.join(s.dir, "prog")
        os.makedirs(prog)
        shutil.copy(qptest.exe("Quillpost.exe"), prog)
        shutil.copy(qptest.exe("getsize.exe"), prog)
        root = os.path.join(s.dir, "srv")
        os.makedirs(os.path.join(root, "up"))
        with qptest.PyFtpd(root, password=secret, rate=RATE) as ftpd:
            qptest.write_ini(self.ini_path, {"Set1": {
                "ServerName": "127.0.0.1", "ServerPort": str(ftpd.port), "Username": ftpd.user,
                "PassiveMode": "1", "ServerDirectory": "up", "UseClipboardFunction": "0"}})
            w = self.open_window(s)
            w.type_into(PASSWORD, secret)
            w.press(SAVE, self.exited, "program end")
            self.assert_exits(s)
            with open(self.ini_path, "rb") as f:
                raw = f.read()
            self.assertNotIn(secret.encode(), raw)
            self.assertTrue(protected_form(self.ini()["Set1"]["Password"]))

            local = os.path.join(s.dir, "gross.bin")
            data = os.urandom(UPLOAD_SIZE)
            with open(local, "wb") as f:
                f.write(data)
            p = s.start(os.path.join(prog, "Quillpost.exe"), ["1", s.winpath(local)], cwd=self.base)
            seen = {"linux": [], "windows": []}
            end = time.monotonic() + 90
            while p.poll() is None and time.monotonic() < end:
                seen["linux"] += wine_command_lines(s)
                code, out = s.run(qptest.exe("cmdlines.exe"), [], timeout=30)
                self.assertEqual(code, 0)
                seen["windows"] += out.decode("utf-8").splitlines()
            self.assertEqual(s.wait_exit(p, 30), 0)
            with open(os.path.join(ftpd.root, "up", "gross.bin"), "rb") as f:
                self.assertEqual(f.read(), data)
            for view, lines in seen.items():
                with self.subTest(view=view):
                    self.assertTrue(any("getsize.exe gross.bin %d " % UPLOAD_SIZE in l for l in lines),
                                    "the upload window's command line was not seen")
                    self.assertTrue(any("Quillpost.exe" in l for l in lines))
                    self.assertEqual([l for l in lines if secret in l], [])
            # Both programs logged in with it: the run, and the upload
            # window for its SIZE polls.
            with open(ftpd.log, "rb") as f:
                log = f.read()
            self.assertEqual(log.count(b"USER '%s' logged in." % ftpd.user.encode()), 2, log[-2000:])
            self.assertIn(b"SIZE gross.bin", log)

    def test_encryption_choice_and_trusted_certificate(self):
        s = self.session("encryption")
        qptest.write_ini(self.ini_path, {
            "Set1": {"UseTLS": "1", "TrustedCertificate": FINGERPRINT},
            "Set2": {"UseTLS": "0", "ServerPort": "21"},
            "Set3": {"UseTLS": "2", "ServerPort": "21", "TrustedCertificate": FINGERPRINT}})
        w = self.open_window(s)
        c = w.controls()
        self.assertEqual(w.items(TLS), ENCRYPTION)
        self.assertEqual(c[TLS - 1].checked, 1)
        self.assertEqual(c[TRUSTED - 1].text, "Vertrautes Zertifikat: " + FINGERPRINT[:23] + "…")
        self.assertTrue(c[REMOVE_TRUST - 1].enabled)

        # Removed at the next save of the configuration.
        w.press(REMOVE_TRUST, lambda: w.ctl(TRUSTED).text == NO_CERTIFICATE, "trust removed")
        self.assertFalse(w.ctl(REMOVE_TRUST).enabled)
        self.assertEqual(self.ini()["Set1"]["TrustedCertificate"], FINGERPRINT)
        w.select(SELECTOR, 1)
        c = w.wait_for(lambda c: c[NAME - 1].text == "Upload 2", "configuration 2 shown")
        self.assertEqual({k: self.ini()["Set1"][k] for k in ("TrustedCertificate", "UseTLS")},
                         {"TrustedCertificate": "", "UseTLS": "1"})
        self.assertEqual((c[TLS - 1].checked, c[PORT - 1].text), (0, "21"))
        self.assertEqual((c[TRUSTED - 1].text, c[REMOVE_TRUST - 1].enabled), (NO_CERTIFICATE, False))

        # Choosing implicit FTPS moves the standard port 21 to 990, and no other port.
        w.select(TLS, 2)
        w.wait_for(lambda c: c[PORT - 1].text == "990", "port 990 suggested")
        self.driver.ask("settext", w.ctl(PORT).hwnd, "2121")
        w.select(TLS, 1)
        w.select(TLS, 2)
        w.select(SELECTOR, 2)
        c = w.wait_for(lambda c: c[NAME - 1].text == "Upload 3", "configuration 3 shown")
        self.assertEqual({k: self.ini()["Set2"][k] for k in ("UseTLS", "ServerPort")},
                         {"UseTLS": "2", "ServerPort": "2121"})
        # Loading implicit FTPS leaves the stored port alone, also once the
        # loop has looked at the list again.
        self.assertEqual((c[TLS - 1].checked, c[PORT - 1].text), (2, "21"))
        w.select(KEEP, 4)
        c = w.wait_for(lambda c: c[DELCLICK - 1].enabled, "the event loop past the load")
        self.assertEqual(c[PORT - 1].text, "21")

        # "Abbrechen" keeps the trust.
        w.press(REMOVE_TRUST, lambda: w.ctl(TRUSTED).text == NO_CERTIFICATE, "trust removed")
        w.press(CANCEL, self.exited, "program end")
        self.assert_exits(s)
        self.assertEqual(self.ini()["Set3"]["TrustedCertificate"], FINGERPRINT)

    def test_password_of_another_user_is_reported(self):
        # Passwords this user's Windows cannot decrypt (another user's or
        # another machine's file): an empty field and one box for each
        # configuration; the save stores the new password in this user's form.
        s = self.session("foreign")
        foreign = base64.b64encode(os.urandom(170)).decode()
        qptest.write_ini(self.ini_path, {"Set1": {"Password": foreign}, "Set2": {"Password": foreign}})
        w = self.open_window(s)
        for n in (1, 2):
            with self.subTest(configuration=n):
                self.assertEqual(self.driver.answer("Achtung:", timeout=30),
                                 "Das gespeicherte Passwort der Konfiguration %d kann nicht gelesen werden. Es "
                                 "wurde von einem anderen Benutzer oder auf einem anderen Computer gespeichert."
                                 "\r\n\r\nBitte geben Sie das Passwort neu ein." % n)
                c = w.wait_for(lambda c: c[NAME - 1].text == "Upload %d" % n, "configuration %d shown" % n)
                self.assertEqual(c[PASSWORD - 1].text, "")
                if n == 1:
                    w.type_into(PASSWORD, "neu-eingegeben")
                    w.select(SELECTOR, 1)
        # Back to configuration 1, saved meanwhile: no box. The loop takes
        # the keep list's change only after the load, so a box would stop it.
        w.select(SELECTOR, 0)
        w.wait_for(lambda c: c[NAME - 1].text == "Upload 1", "configuration 1 shown again")
        w.select(KEEP, 4)
        c = w.wait_for(lambda c: c[DELCLICK - 1].enabled, "the event loop past the load")
        self.assertEqual(int(self.driver.ask("box", "Achtung:")[0]), 0)
        self.assertEqual(c[PASSWORD - 1].text, "neu-eingegeben")
        w.press(CANCEL, self.exited, "program end")
        self.assert_exits(s)
        stored = self.ini()
        self.assertTrue(protected_form(stored["Set1"]["Password"]))
        self.assertTrue(protected_form(stored["Set2"]["Password"]))
        self.assertNotEqual(stored["Set2"]["Password"], foreign)

    def test_help_buttons(self):
        s = self.session("help")
        w = self.open_window(s)
        c = w.controls()
        for k, expected in enumerate(HELP):
            with self.subTest(button=k + 1):
                w.press(HELP_FIRST + k, lambda: int(self.driver.ask("box", "Hilfe:")[0]), "help box")
                self.assertEqual(self.driver.answer("Hilfe:"), expected)
        w.press(CANCEL, self.exited, "program end")
        self.assert_exits(s)
        self.assertFalse(os.path.exists(self.ini_path))

    def test_info_window(self):
        s = self.session("info")
        w = self.open_window(s)
        info, ic = self.open_info(s, w)
        self.assertEqual([(x.cls.lower(), x.x, x.y, x.w - 2 if etched(x) and x.h == 2 else x.w) for x in ic],
                         [("static", 87, 17, 82), ("static", 340, 17, 170), ("static", 87, 38, 280),
                          ("static", 87, 189, 50), ("static", 87, 222, 280), ("static", 10, 8, 70),
                          ("static", 12, 10, 66), ("edit", 87, 71, 295), ("static", 88, 172, 303),
                          ("static", 7, 245, 384), ("button", 144, 185, 115), ("button", 266, 185, 115),
                          ("button", 301, 255, 80)])
        self.assertEqual((ic[0].text, ic[1].text, ic[3].text, ic[12].text), ("Quillpost", "(v.1.2)", "Internet:", "OK"))
        self.assertEqual(ic[6].id, 31000)
        self.assertTrue(ic[7].style & ES_READONLY)
        lines = ic[7].text.split("\r\n")
        self.assertEqual(lines[:3], [RULE_TOP, " :: Informationen", RULE_BOTTOM])
        self.assertEqual(lines[-4:], [RULE_BOTTOM,
                                      "Für eventuelle Schäden oder bei Datenverlusten, die durch die Nutzung "
                                      "dieser Software entstehen, wird keine Haftung übernommen.", " ",
                                      "Alle genannten Markennamen und Bezeichnungen sind eingetragene "
                                      "Warenzeichen ihrer Eigentümer."])
        versions = lines.index(" :: Versionen")
        self.assertEqual(lines[versions + 2:versions + 6], ["1.0 (03.02.2005)", "Erstes Release.", "",
                                                            "1.1 (02.06.2006)"])
        self.assertEqual(lines.count(RULE_TOP), 4)
        self.assertIn(" - Bestätigung vor dem Überschreiben (optional)", lines)
        self.assertEqual(lines[lines.index("1.2 (30.03.2009)") + 1:lines.index("1.2 (30.03.2009)") + 4],
                         [" - Bugfixes", " - https-Adressen: HTTP-Server mit https:// angeben",
                          " - Adresse vor dem Kopieren prüfen (optional)"])
        self.assertFalse(ic[7].text.endswith("\r\n"))
        self.shot(s, info.hwnd, "info-window.png")

        # A second click opens no second window.
        w.click(ABOUT)
        time.sleep(0.5)
        self.assertEqual(self.driver.titles().count("Über..."), 1)

        # Escape with the focus in the configuration window's fields.
        s.click_into(w.ctl(SERVER).hwnd, "Quillpost 1.2")
        s.key("Escape")
        time.sleep(0.5)
        self.assertEqual(self.driver.ask("exists", info.hwnd), ["1"])

        # The focus in the info text: the close request does not end the program.
        text = ic[7].hwnd
        s.click_into(text, "Über...")
        self.driver.ask("post", w.hwnd, WM_CLOSE, 0, 0)
        time.sleep(1)
        self.assertIsNone(self.proc.poll())
        self.assertFalse(os.path.exists(self.ini_path))

        # The text cannot be changed, but it can be selected and copied.
        before = self.driver.text(text)
        s.xdotool("type", "--delay", "30", "xy")
        self.driver.ask("send", text, EM_SETSEL, 0, 43)
        self.driver.ask("send", text, WM_COPY, 0, 0)
        self.assertEqual(s.clipboard(), RULE_TOP.encode("cp1252"))
        self.assertEqual(self.driver.text(text), before)

        # Escape there closes the info window; the configuration window stays.
        for _ in range(3):
            s.key("Escape")
            with contextlib.suppress(qptest.TimeoutError_):
                qptest.wait_until(lambda: "Über..." not in self.driver.titles(), 3, "info window closed")
                break
        self.assertNotIn("Über...", self.driver.titles())
        self.assertIsNone(self.proc.poll())

        # Open again, close with OK.
        info, ic = self.open_info(s, w)
        info.press(ic[12].hwnd, lambda: "Über..." not in self.driver.titles(), "info window closed by OK")
        w.press(CANCEL, self.exited, "program end")
        self.assert_exits(s)


if __name__ == "__main__":
    unittest.main()
