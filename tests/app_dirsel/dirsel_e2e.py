"""End-to-end runs of the folder-selection window: the real Quillpost.exe
under Wine, started as the Send-To shortcut does, against pyftpdlib serving
a folder tree on 127.0.0.1. The window is driven as a user would: real key
presses and mouse clicks through xdotool where the window polls key and
mouse state, Win32 messages through winctl where that is more reliable
(buttons, the input box, the history box's selection). Each case has its
own session, server, ports and folders.

    dirsel_e2e.py Class.test_name    (one case; ctest runs them in parallel)
"""
import contextlib
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402
from uploads import Run, read  # noqa: E402

TITLE = "Quillpost 1.2 - Ordnerauswahl"
LIMIT = 30  # seconds any single step may take before the test fails
SHOT = os.path.join(qptest.BUILD, "tests", "app_dirsel", "folder_window.png")

LB_GETITEMHEIGHT = 0x1A1
CB_SETCURSEL = 0x14E
BM_GETCHECK = 0xF0


class Dirsel(Run):
    """Quillpost.exe in a program folder, a base folder with Quillpost.ini
    (configuration 1, folder selection on) and a local file to upload."""

    def __init__(self, session, ftpd, server_dir="", dirs=None):
        super().__init__(session, getsize=None)
        keys = {"Dirs%d" % i: d for i, d in enumerate(dirs or [], 1)}
        self.configure(ftpd, ServerDirectory=server_dir, ServerWWWDirectory="/web/", DirSel=1, **keys)
        self.picture = self.file("Mein Bild.txt", b"picture data")

    # -- start and controls ------------------------------------------------
    def start(self):
        self.proc = super().start([self.picture])
        self.d = self.s.driver
        self.main = self.s.wait_shown(TITLE, LIMIT)
        def whole(kids):
            texts = [k[5] for k in kids]
            return ({1011, 1012, 1013, 1001} <= {k[1] for k in kids} and {"Abbrechen", "Upload »"} <= set(texts)
                    and any(t.startswith("ftp://") for t in texts))
        self.kids = self.s.wait_children(self.main, whole, LIMIT)
        by_id = {k[1]: k[0] for k in self.kids}
        by_text = {k[5]: k[0] for k in self.kids}
        self.list, self.switch, self.box, self.new = by_id[1011], by_id[1012], by_id[1013], by_id[1001]
        self.cancel, self.upload = by_text["Abbrechen"], by_text["Upload »"]
        self.label = next(k[0] for k in self.kids if k[5].startswith("ftp://"))
        return self

    def items(self):
        return self.d.items(self.list)

    def box_items(self):
        return self.d.items(self.box)

    def selection(self, h=None):
        return int(self.d.ask("selection", h or self.list)[0])

    def focus_on(self, h, what):
        qptest.wait_until(lambda: int(self.d.ask("focus", self.main)[0]) == h, LIMIT, "the focus on " + what)

    def path_label(self):
        return self.d.text(self.label)

    def enabled(self, h):
        return self.s.info(h)["enabled"] == "1"

    def checked(self):
        return int(self.d.ask("send", self.switch, BM_GETCHECK, 0, 0)[0]) == 1

    def wait_list(self, items, selected=None, label=None):
        """Waits until the folder list holds `items` (and selects `selected`);
        then the path above it must read `label`."""
        def ok():
            if self.items() != items:
                return False
            return selected is None or self.selection() == items.index(selected)
        try:
            qptest.wait_until(ok, LIMIT, "folder list %r" % items, interval=0.1)
        except qptest.TimeoutError_:
            raise AssertionError("list %r, selection %d; wanted %r, %r" %
                                 (self.items(), self.selection(), items, selected))
        if label is not None:
            assert self.path_label() == label, (self.path_label(), label)

    def dirs(self):
        sec = self.section()
        return [sec.get("Dirs%d" % i, "") for i in range(1, 11)]

    # -- user input --------------------------------------------------------
    def key(self, name):
        self.s.key(name, TITLE)

    def click_item(self, index, times=1):
        left, top, _r, _b = self.d.rect(self.list)
        height = int(self.d.ask("send", self.list, LB_GETITEMHEIGHT, 0, 0)[0])
        self.s.click_at(left + 30, top + 2 + index * height + height // 2, TITLE, times=times)

    def double_click_item(self, index):
        self.click_item(index, times=2)

    def click(self, button):
        self.d.ask("click", button)

    def new_folder(self, name):
        """ "Neuer Ordner": the input box, filled in and confirmed."""
        self.click(self.new)
        box = self.s.wait_window("Neuer Ordner", LIMIT)
        edit = self.d.wait("child", box, 101, timeout=LIMIT, what="the input box's field")
        self.d.ask("settext", edit, name)
        self.s.press(box, 1)

    def choose_history(self, index):
        self.d.ask("send", self.box, CB_SETCURSEL, index, 0)

    def wait_end(self):
        return self.s.wait_exit(self.proc, LIMIT)


@contextlib.contextmanager
def window(name, folders, **kw):
    """A session of its own, pyftpdlib serving `folders` in a root folder,
    and the window's program ready to start: (session, server, Dirsel, root)."""
    with qptest.Session("dirsel-" + name) as s:
        root = os.path.join(s.dir, "srv")
        for d in folders:
            os.makedirs(os.path.join(root, d), exist_ok=True)
        with qptest.PyFtpd(root) as ftpd:
            yield s, ftpd, Dirsel(s, ftpd, **kw), root


def cwds(ftpd):
    return [c for c in ftpd.commands() if c.startswith("CWD")]


class Browse(unittest.TestCase):
    def test_login_folder_double_click_backspace_escape(self):
        with window("browse", ["pub/files/deep", "pub/docs", "alpha", "zeta"],
                    dirs=["alpha", "", "zeta"]) as (s, ftpd, w, root):
            with open(os.path.join(root, "readme.txt"), "wb") as f:
                f.write(b"not a folder")
            ini_before = read(w.ini)
            w.start()
            # The login folder: folders only, sorted, no "..".
            w.wait_list(["alpha", "pub", "zeta"], "alpha", label="ftp://127.0.0.1/")
            w.focus_on(w.list, "the list")
            # Backspace at the login folder does nothing.
            w.key("BackSpace")
            time.sleep(0.3)
            self.assertEqual(w.items(), ["alpha", "pub", "zeta"])
            self.assertEqual(cwds(ftpd), ["CWD /"])
            # Double click enters a folder; ".." is offered and the first
            # folder below it is selected.
            w.double_click_item(1)
            w.wait_list(["..", "docs", "files"], "docs", label="ftp://127.0.0.1/pub/")
            w.double_click_item(2)
            w.wait_list(["..", "deep"], "deep", label="ftp://127.0.0.1/pub/files/")
            # Backspace goes up one level and selects the folder just left.
            w.key("BackSpace")
            w.wait_list(["..", "docs", "files"], "files", label="ftp://127.0.0.1/pub/")
            w.key("BackSpace")
            w.wait_list(["alpha", "pub", "zeta"], "pub", label="ftp://127.0.0.1/")
            # A slow second click is no double click.
            w.click_item(2)
            time.sleep(0.6)
            w.click_item(2)
            time.sleep(0.3)
            self.assertEqual(w.items(), ["alpha", "pub", "zeta"])
            # The listing file is read and deleted.
            self.assertFalse(os.path.exists(os.path.join(w.base, "ftpdir.txt")))
            # Escape ends the program: no upload, history untouched.
            w.key("Escape")
            self.assertEqual(w.wait_end(), 0)
            cmds = ftpd.commands()
            self.assertFalse([c for c in cmds if c.startswith("STOR")], cmds)
            self.assertEqual(cmds[-1], "QUIT")
            self.assertEqual(read(w.ini), ini_before)
            self.assertIsNone(s.clipboard())

    def test_enter_uploads_into_current_folder(self):
        with window("enter", ["pub/files", "pub/docs"], server_dir="/pub/",
                    dirs=["a", "b", "c"]) as (s, ftpd, w, root):
            w.start()
            w.wait_list(["..", "docs", "files"], "docs", label="ftp://127.0.0.1/pub/")
            # Enter with the focus in the list uploads into pub; it does
            # not enter the selected folder docs.
            w.key("Return")
            self.assertEqual(w.wait_end(), 0)
            with open(os.path.join(root, "pub", "Mein_Bild.txt"), "rb") as f:
                self.assertEqual(f.read(), b"picture data")
            self.assertEqual(os.listdir(os.path.join(root, "pub", "docs")), [])
            self.assertEqual(s.clipboard(), b"http://www.example.com/pub/Mein_Bild.txt")
            # A new folder goes on top of the history.
            self.assertEqual(w.dirs(), ["pub", "a", "b", "c", "", "", "", "", "", ""])


class Folders(unittest.TestCase):
    def test_new_folder_and_delete(self):
        with window("folders", ["a", "b", "c", "d", "e", "full/inner"]) as (s, ftpd, w, root):
            w.start()
            w.wait_list(["a", "b", "c", "d", "e", "full"], "a")
            # New folder: the input box, then MKD; the list gains it,
            # selected, without a new listing.
            lists = ftpd.commands().count("LIST")
            w.new_folder("neu Ordner")
            w.wait_list(["a", "b", "c", "d", "e", "full", "neu Ordner"], "neu Ordner")
            self.assertTrue(os.path.isdir(os.path.join(root, "neu Ordner")))
            self.assertEqual(ftpd.commands().count("LIST"), lists)
            # An existing name cannot be made.
            w.new_folder("b")
            self.assertEqual(s.answer("Fehler:", qptest.IDOK, LIMIT),
                             "Der Ordner b konnte nicht angelegt werden!")
            # Deleting asks first; No keeps the folder.
            w.click_item(3)
            w.key("Delete")
            h = s.wait_box("Achtung:", LIMIT)
            self.assertEqual(s.box_text(h), 'Soll der Ordner "d" wirklich gelöscht werden?')
            s.press(h, qptest.IDNO)
            time.sleep(0.3)
            self.assertTrue(os.path.isdir(os.path.join(root, "d")))
            self.assertEqual(w.items(), ["a", "b", "c", "d", "e", "full", "neu Ordner"])
            # Yes deletes; any entry but the last but one moves the
            # selection to the entry before it.
            w.key("Delete")
            self.assertEqual(s.answer("Achtung:", qptest.IDYES, LIMIT),
                             'Soll der Ordner "d" wirklich gelöscht werden?')
            w.wait_list(["a", "b", "c", "e", "full", "neu Ordner"], "c")
            self.assertFalse(os.path.exists(os.path.join(root, "d")))
            # The last but one: the entry that followed it is selected.
            w.click_item(4)
            w.key("Delete")
            h = s.wait_box("Achtung:", LIMIT)
            self.assertEqual(s.box_text(h), 'Soll der Ordner "full" wirklich gelöscht werden?')
            s.press(h, qptest.IDYES)
            self.assertEqual(s.answer("Fehler:", qptest.IDOK, LIMIT),
                             "Der Ordner konnte nicht gelöscht werden!\r\nWahrscheinlich ist er nicht leer.")
            self.assertTrue(os.path.isdir(os.path.join(root, "full")))
            os.rmdir(os.path.join(root, "full", "inner"))
            w.key("Delete")
            s.answer("Achtung:", qptest.IDYES, LIMIT)
            w.wait_list(["a", "b", "c", "e", "neu Ordner"], "neu Ordner")
            self.assertFalse(os.path.exists(os.path.join(root, "full")))
            # "Abbrechen" ends the program without an upload.
            w.click(w.cancel)
            self.assertEqual(w.wait_end(), 0)
            self.assertFalse([c for c in ftpd.commands() if c.startswith("STOR")])
            self.assertEqual(w.dirs(), [""] * 10)


class History(unittest.TestCase):
    def test_missing_entry_then_dirs4_becomes_dirs1(self):
        with window("history", ["pub/files", "other"], server_dir="other",
                    dirs=["other", "gone", "", "pub/files", "x"]) as (s, ftpd, w, root):
            w.start()
            w.wait_list([".."], "..")
            self.assertEqual(w.box_items(), ["other", "gone", "pub/files", "x"])
            self.assertFalse(w.enabled(w.box))
            # The switch: the box takes over from the list.
            w.click(w.switch)
            qptest.wait_until(lambda: w.enabled(w.box) and not w.enabled(w.list), LIMIT, "history mode")
            self.assertEqual(w.selection(), -1)
            self.assertEqual(w.path_label(), "ftp://127.0.0.1/other/")
            # A history entry that no longer exists: its message, and the
            # window stays open in the previous folder.
            w.choose_history(1)
            qptest.wait_until(lambda: w.path_label() == "ftp://127.0.0.1/gone/", LIMIT, "label follows box")
            w.click(w.upload)
            self.assertEqual(s.answer("Fehler:", qptest.IDOK, LIMIT),
                             "Das gewählte Verzeichnis existiert nicht auf dem Server!")
            qptest.wait_until(lambda: cwds(ftpd)[-1:] == ["CWD other"], LIMIT, "back in other")
            self.assertTrue(s.find_window(TITLE))
            # Dirs4 (third box entry, behind an empty key) is chosen.
            w.choose_history(2)
            qptest.wait_until(lambda: w.path_label() == "ftp://127.0.0.1/pub/files/", LIMIT, "label")
            w.click(w.upload)
            self.assertEqual(w.wait_end(), 0)
            with open(os.path.join(root, "pub", "files", "Mein_Bild.txt"), "rb") as f:
                self.assertEqual(f.read(), b"picture data")
            self.assertEqual(s.clipboard(), b"http://www.example.com/pub/files/Mein_Bild.txt")
            self.assertEqual(w.dirs(), ["pub/files", "gone", "", "other", "x", "", "", "", "", ""])

    def test_delete_history_entry_behind_empty_keys_and_tab(self):
        with window("histdel", ["a", "b"],
                    dirs=["", "a", "", "b", "c", "", "", "", "", "z"]) as (s, ftpd, w, root):
            w.start()
            w.wait_list(["a", "b"], "a")
            # Tab order while browsing: list, switch, Abbrechen, Upload, list.
            w.key("Tab")
            w.focus_on(w.switch, "the switch")
            w.key("space")
            qptest.wait_until(lambda: w.enabled(w.box), LIMIT, "history mode")
            w.key("Tab")
            w.focus_on(w.box, "the box")
            # Delete "b" (box entry 1, slot 4): slot 4 goes, later ones move up.
            w.choose_history(1)
            w.key("Delete")
            qptest.wait_until(lambda: w.box_items() == ["a", "c", "z"], LIMIT, "entry removed")
            self.assertEqual(w.selection(w.box), 1)
            self.assertEqual(w.dirs(), ["", "a", "", "c", "", "", "", "", "z", ""])
            # The last entry: the selection goes to the new last one.
            w.choose_history(2)
            w.key("Delete")
            qptest.wait_until(lambda: w.box_items() == ["a", "c"], LIMIT, "last entry removed")
            self.assertEqual(w.selection(w.box), 1)
            self.assertEqual(w.dirs(), ["", "a", "", "c", "", "", "", "", "", ""])
            # Tab: box, Abbrechen, Upload, switch (checked).
            for h, what in ((w.cancel, "Abbrechen"), (w.upload, "Upload"), (w.switch, "the switch"),
                            (w.box, "the box")):
                w.key("Tab")
                w.focus_on(h, what)
            # Emptying the box leaves history mode.
            w.key("Delete")
            qptest.wait_until(lambda: w.box_items() == ["a"], LIMIT, "one left")
            self.assertEqual(w.dirs(), ["", "a", "", "", "", "", "", "", "", ""])
            w.key("Delete")
            qptest.wait_until(lambda: w.box_items() == [], LIMIT, "box empty")
            qptest.wait_until(lambda: w.enabled(w.list) and not w.enabled(w.box), LIMIT, "browsing again")
            self.assertFalse(w.checked())
            self.assertEqual(w.dirs(), [""] * 10)
            # The close box ends the program without an upload.
            s.winctl("close", w.main)
            self.assertEqual(w.wait_end(), 0)
            self.assertFalse([c for c in ftpd.commands() if c.startswith("STOR")])
            self.assertEqual(ftpd.commands()[-1], "QUIT")


class Utf8Folders(unittest.TestCase):
    def test_umlaut_and_foreign_folders_on_a_utf8_server(self):
        # "Ωmega" and "Δelta" have letters outside the code page: shown as
        # "?mega" and "?elta", they are entered, removed and uploaded into
        # under their server names.
        with window("utf8", ["Ärger/innen", "Ωmega/tief", "Ωmega/Δelta", "alpha"]) as (s, ftpd, w, root):
            w.start()
            shown = sorted(["?mega", "alpha", "Ärger"])
            qptest.wait_until(lambda: sorted(w.items()) == shown, LIMIT, "the login folder listed")
            top = w.items()
            w.double_click_item(top.index("Ärger"))
            w.wait_list(["..", "innen"], "innen", label="ftp://127.0.0.1/Ärger/")
            w.key("BackSpace")
            w.wait_list(top, "Ärger")
            w.double_click_item(top.index("?mega"))
            w.wait_list(["..", "?elta", "tief"], "?elta", label="ftp://127.0.0.1/?mega/")
            # Up and in again: the way back names the folder as the server does.
            w.key("BackSpace")
            w.wait_list(top, "?mega")
            w.double_click_item(top.index("?mega"))
            w.wait_list(["..", "?elta", "tief"], "?elta")
            w.key("Delete")
            self.assertEqual(s.answer("Achtung:", qptest.IDYES, LIMIT),
                             'Soll der Ordner "?elta" wirklich gelöscht werden?')
            w.wait_list(["..", "tief"])
            w.click(w.upload)
            self.assertEqual(w.wait_end(), 0)
            self.assertEqual(read(os.path.join(root, "Ωmega", "Mein_Bild.txt")), b"picture data")
            self.assertEqual(sorted(os.listdir(os.path.join(root, "Ωmega"))), ["Mein_Bild.txt", "tief"])
            self.assertEqual(s.clipboard(), b"http://www.example.com/%CE%A9mega/Mein_Bild.txt")
            cmds = ftpd.commands("utf-8")
            self.assertIn("CWD Ärger", cmds)
            self.assertEqual(cmds.count("CWD Ωmega"), 2)
            self.assertIn("RMD Δelta", cmds)
            self.assertFalse([c for c in cmds if "\ufffd" in c], cmds)


class Layout(unittest.TestCase):
    # Client position and size of each control, as laid out.
    TABLE = {
        "prompt": (88, 11, 230, 16), "label": (88, 32, 280, 16), "frame": (10, 8, 70, 229),
        "list": (88, 56, 400, 154), "switch": (88, 217, 75, 20), "new": (462, 215, 26, 23),
        "separator": (7, 245, 484, 5), "hint": (10, 260, 280, 16), "cancel": (311, 255, 80, 22),
        "upload": (401, 255, 80, 22),
    }

    def test_layout_and_screenshot(self):
        with window("layout", ["bilder", "texte", "archiv"]) as (s, ftpd, w, root):
            w.start()
            w.wait_list(["archiv", "bilder", "texte"], "archiv")
            info = s.info(w.main)
            l, t, r, b = map(int, info["rect"].split())
            self.assertEqual((r - l, b - t), (500, 311))
            sw, sh = 1280, 1024
            self.assertEqual((l, t), (sw // 2 - 250, sh // 2 - 155))
            self.assertEqual(s.get_text(w.main), TITLE)
            kids = {k[0]: k for k in w.kids}
            texts = {k[5]: k[0] for k in w.kids}
            handles = {"prompt": texts["Wählen Sie den gewünschten Zielordner:"], "label": w.label,
                       "frame": next(k[0] for k in w.kids if k[1] == 1010), "list": w.list,
                       "switch": w.switch, "new": w.new,
                       "separator": next(k[0] for k in w.kids if k[1] == 1014),
                       "hint": texts["Doppelklick zum wechseln des Verzeichnisses."],
                       "cancel": w.cancel, "upload": w.upload}
            rects = {n: list(map(int, s.info(h)["rect"].split())) for n, h in handles.items()}
            ox, oy = rects["prompt"][0] - 88, rects["prompt"][1] - 11
            for name, (x, y, cx, cy) in self.TABLE.items():
                rl, rt, rr, rb = rects[name]
                if name == "separator":  # an etched line sizes itself to its edge
                    self.assertEqual((rl - ox, rt - oy), (x, y), name)
                else:
                    self.assertEqual((rl - ox, rt - oy, rr - rl, rb - rt), (x, y, cx, cy), name)
            # Styles of the table.
            self.assertEqual(kids[w.list][3] | 0x00200000, 0x54210143)  # scroll bar shown when needed
            # Client edge; child windows drop the window edge.
            self.assertEqual(kids[w.list][4] & 0x200, 0x200)
            self.assertEqual(kids[w.switch][3], 0x54010003 | 0x08000000)  # disabled: history empty
            self.assertEqual(kids[w.box][3], 0x54010243 | 0x08000000)  # disabled at start
            self.assertEqual(kids[w.new][3], 0x50000040)
            self.assertEqual(kids[handles["frame"]][3], 0x54000100)
            self.assertEqual(kids[handles["separator"]][3], 0x54000130)
            pic = next(k for k in w.kids if k[1] == 31000)
            self.assertEqual(pic[3] & 0x1F, 0xE)  # bitmap static
            self.assertEqual(pic[4] & 0x20, 0x20)
            # The fonts (Tahoma 13, bold prompt and "Upload »") are checked by eye on
            # the screenshot: a font handle of another process cannot be read here.
            # History all empty: the switch is disabled, the box too.
            self.assertFalse(w.enabled(w.switch))
            self.assertFalse(w.enabled(w.box))
            self.assertFalse(w.enabled(handles["hint"]))
            time.sleep(0.3)
            s.screenshot(SHOT, w.main)
            s.winctl("close", w.main)
            self.assertEqual(w.wait_end(), 0)
            self.assertEqual(ftpd.commands()[-1], "QUIT")


if __name__ == "__main__":
    unittest.main()
