"""End-to-end upload runs: the real Quillpost.exe under Wine, started like
the Send-To shortcut does (configuration number, file paths), against real
FTP servers on 127.0.0.1, as rows (tests/support/uploads.py). A stand-in
getsize.exe next to Quillpost.exe records the command line and the channel
texts it receives. Basic's rows have a session each; the other classes run
their rows one after another in a session of their own.

    upload_e2e.py Class[.test_name]    (ctest runs them in parallel)
"""
import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402
from uploads import (FAILED, NO_CONNECTION, RUN_LIMIT, Case, Run, Upload, commands_of, payload,  # noqa: E402
                     read, rows)

WWW = b"http://www.example.com/"
YES, NO, OK = qptest.IDYES, qptest.IDNO, qptest.IDOK
OVERWRITE = "Soll die Datei %s überschrieben werden?"
THREE = ["a#b.txt", "100%.txt", "plain.txt"]
UTF8_NAMES = {"Bäume.txt": payload("baum"), "Grüße 2026.jpg": payload("gruss")}


def folder_window_upload(test, ctx):
    """Clicks "Upload" in the folder-selection window. A click that lands
    before the window's loop waits is not seen, as for a user; it is
    repeated until the window goes."""
    s, title = ctx.s, "Quillpost 1.2 - Ordnerauswahl"
    button = [c for c in s.wait_children(s.wait_window(title), lambda c: any(k[5] == "Upload »" for k in c))
              if c[5].startswith("Upload")]
    test.assertEqual(len(button), 1)

    def clicked():
        if ctx.proc.poll() is None and s.find_window(title):
            s.winctl("click", button[0][0], check=False)
            return False
        return True
    qptest.wait_until(clicked, RUN_LIMIT, "the upload to start", interval=2)


def clipboard_held(test, ctx):
    """Another program keeps the clipboard open for 5 s from just before the
    addresses are due (the question holds the run): the run tries for about
    2 s, then shows the addresses."""
    s = ctx.s
    box = s.wait_box("Achtung:")
    out_path = os.path.join(s.dir, "holder.out")
    with open(out_path, "wb") as out:
        holder = subprocess.Popen([qptest.WINE_RUN, qptest.exe("winctl.exe"), "holdclip", "5000"], env=s.env,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
    s.procs.append(holder)
    qptest.wait_until(lambda: b"held" in read(out_path), 30, "the clipboard held")
    answered = time.monotonic()
    s.press(box, YES)
    test.assertEqual(s.answer("Fehler:", OK, timeout=30),
                     "Die Adressen konnten nicht in die Zwischenablage kopiert werden!\r\n\r\n"
                     "http://www.example.com/files/a.txt\r\nhttp://www.example.com/files/b_c.txt")
    test.assertGreater(time.monotonic() - answered, 1.9)
    test.assertEqual(holder.wait(30), 0)


def no_size_before_store(test, ctx):
    cmds = commands_of(ctx.server)
    test.assertNotIn("SIZE full.txt", cmds[:cmds.index("STOR full.txt")])


def utf8_login(test, ctx):
    cmds = commands_of(ctx.server, "utf-8")
    test.assertEqual(cmds[cmds.index("PASS ******") + 1:][:2], ["FEAT", "OPTS UTF8 ON"])
    test.assertFalse([c for c in cmds if "\ufffd" in c], cmds)


class Basic(unittest.TestCase):
    pass


rows(Basic, [
    # "/files/" joined with "/" on both sides: the doubled slashes reduce to one.
    Case("one_file_with_blank_pyftpd", holds={"up": None}, ini=dict(ServerDirectory="/up/"), runs=[Upload(
        files={"Mein Bild.jpg": payload("bild")}, stored={"up/Mein_Bild.jpg": payload("bild")},
        clipboard=WWW + b"files/Mein_Bild.jpg", sent=["PASV"], last="QUIT",
        getsize=r"^cmd getsize\.exe Mein_Bild\.jpg 2000 \d+ 1 0 \d+ up$", channel=["end"])]),
    Case("three_files", ini=dict(ServerWWWDirectory="pub"), runs=[Upload(
        files={n: payload(n, 150000 + i) for i, n in enumerate(THREE)},
        stored={n: payload(n, 150000 + i) for i, n in enumerate(THREE)},
        clipboard=WWW + b"pub/a%23b.txt\r\n" + WWW + b"pub/100%25.txt\r\n" + WWW + b"pub/plain.txt",
        getsize=r"^cmd getsize\.exe a#b\.txt 150000 \d+ 1 1 \d+ \?$",
        extra=lambda t, c: t.assertEqual(c.run.finished_log()[-1], "end"))]),
    # Each later file's text stays in the channel until the question for the
    # next file is answered, so the stand-in cannot miss one.
    Case("channel_texts", holds={"d/two.txt": b"server copy", "d/three.txt": b"server copy"},
         ini=dict(Ask=1, ServerDirectory="d"), runs=[Upload(
             files={"one.txt": b"1" * 10, "two.txt": b"2" * 20, "three.txt": b"3" * 30},
             steps=[("log", "ready"), ("answer", "Achtung:", YES, OVERWRITE % "two.txt"),
                    ("log", "text two.txt 20 1"), ("answer", "Achtung:", YES, OVERWRITE % "three.txt")],
             stored={"d/one.txt": b"1" * 10, "d/two.txt": b"2" * 20, "d/three.txt": b"3" * 30},
             getsize=r"^cmd getsize\.exe one\.txt 10 \d+ 1 1 \d+ d$",
             channel=["text two.txt 20 1", "text three.txt 30 0", "end"])]),
    Case("active_mode_pyftpd", ini=dict(PassiveMode=0), runs=[Upload(
        files={"act.bin": payload("active", 90000)}, stored={"act.bin": payload("active", 90000)},
        not_sent=[r"^PASV"], extra=lambda t, c: t.assertRegex(" ".join(commands_of(c.server)), r"PORT \d"))]),
    Case("vsftpd_passive_umlaut", server="vsftpd", ini=dict(ServerDirectory="upload", ServerWWWDirectory=""),
         runs=[Upload(files={"Grüße x.txt": payload("gruss")}, stored={b"upload/Gr\xfc\xdfe_x.txt": payload("gruss")},
                      clipboard=WWW + b"Gr%FC%DFe_x.txt")]),
    Case("vsftpd_active", server="vsftpd",
         ini=dict(ServerDirectory="/upload", PassiveMode=0, UseClipboardFunction=0), runs=[Upload(
             files={"act.bin": payload("active", 70000)}, stored={"upload/act.bin": payload("active", 70000)},
             clipboard=None)]),
    Case("through_proxy", server="proxy", runs=[Upload(
        files={"via proxy.txt": payload("proxy")}, stored={"via_proxy.txt": payload("proxy")},
        sent=["STOR via_proxy.txt"], clipboard=WWW + b"files/via_proxy.txt")]),
    # With DirSel on, the address uses the chosen server folder.
    Case("folder_selection_address", holds={"pub/pics": None},
         ini=dict(DirSel=1, ServerDirectory="/pub/pics/", ServerWWWDirectory="/files/"), runs=[Upload(
             files={"Foto 1.jpg": b"jpeg"}, steps=[folder_window_upload], stored={"pub/pics/Foto_1.jpg": b"jpeg"},
             clipboard=WWW + b"pub/pics/Foto_1.jpg", getsize=r" pub/pics$")]),
])


class Ask(qptest.SharedSession):
    pass


rows(Ask, [
    Case("yes_overwrites", holds={"a.txt": b"old content"}, ini=dict(Ask=1), runs=[Upload(
        files={"a.txt": b"new content"}, steps=[("answer", "Achtung:", YES, OVERWRITE % "a.txt")],
        stored={"a.txt": b"new content"}, clipboard=WWW + b"files/a.txt")]),
    # Addresses go into the clipboard only after the last file.
    Case("no_ends_run_and_leaves_clipboard", holds={"y.txt": b"server copy"},
         ini=dict(Ask=1, DelOld=1, History1="old.txt"), runs=[Upload(
             files={"x.txt": b"first", "y.txt": b"second", "z.txt": b"third"},
             steps=[("answer", "Achtung:", NO, OVERWRITE % "y.txt")],
             stored={"x.txt": b"first", "y.txt": b"server copy"}, absent=["z.txt"], clipboard=None,
             history=["x.txt", ""], last="QUIT", not_sent=[r"^STOR y\.txt$"])]),
    # A question would hang the run.
    Case("size_zero_asks_nothing", holds={"empty.txt": b""}, ini=dict(Ask=1), runs=[Upload(
        files={"empty.txt": b"now filled"}, stored={"empty.txt": b"now filled"}, sent=["SIZE empty.txt"])]),
    # No question asked: the only SIZE is the check after the STOR.
    Case("ask_2_is_off", holds={"full.txt": b"server copy"}, ini=dict(Ask=2), runs=[Upload(
        files={"full.txt": b"replaced"}, stored={"full.txt": b"replaced"}, extra=no_size_before_store)]),
], shared=True)


def deleted(commands):
    return lambda t, c: t.assertEqual([x for x in commands_of(c.server) if x.startswith("DELE")], commands)


def named(*names):
    return {n: n.encode() for n in names}


class History(qptest.SharedSession):
    pass


# (DelClick, Protect) -> recorded?, Protect afterwards
PROTECT = [(0, "1", False, "0"), (0, "0", True, "0"), (1, "0", False, "0"), (1, "1", True, "1")]

rows(History, [
    Case("keep_one_deletes_all_recorded", holds=named("h1.txt", "h2.txt", "h3.txt", "foreign.txt"),
         ini=dict(DelOld=1, History1="h1.txt", History2="h2.txt", History3="h3.txt"), runs=[Upload(
             files={"R.txt": b"R"}, listing=("", ["R.txt", "foreign.txt"]), history=["R.txt"] + [""] * 19)]),
    # The next run builds on what this one wrote.
    Case("keep_three_over_a_run_of_three", holds=named(*"abcde"),
         ini=dict(DelOld=3, History1="a", History2="b", History3="c", History4="d", History5="e"), runs=[
             Upload(files={"R1": b"1"}, listing=("", ["R1", "a", "b"]), history=["R1", "a", "b", ""]),
             Upload(files={"R2": b"2", "R3": b"3"}, listing=("", ["R1", "R2", "R3"]),
                    history=["R3", "R2", "R1", ""], section={"Protect": ""})]),
    # Three files stay: the upload and the two newest others.
    Case("name_already_in_history_2", holds=named("a", "R", "c", "d"),
         ini=dict(DelOld=3, History1="a", History2="R", History3="c", History4="d"), runs=[Upload(
             files={"R": b"new R"}, stored={"R": b"new R"}, listing=("", ["R", "a", "c"]),
             history=["R", "a", "c", ""], not_sent=[r"^DELE R$"])]),
    # Every file of the run stays, and so does "Eins.TXT", recorded by an
    # earlier run: a case-blind server would take it for "eins.txt". The
    # next run keeps one again: this run's files are older then.
    Case("keep_one_over_a_run_of_three", holds=named("old.txt", "Eins.TXT"),
         ini=dict(DelOld=1, History1="old.txt", History2="Eins.TXT", ServerWWWDirectory=""), runs=[
             Upload(files=named("eins.txt", "zwei.txt", "drei.txt"), stored=named("eins.txt", "zwei.txt", "drei.txt"),
                    listing=("", ["eins.txt", "zwei.txt", "drei.txt", "Eins.TXT"]),
                    history=["drei.txt", "zwei.txt", "eins.txt", ""], extra=deleted(["DELE old.txt"]),
                    clipboard=WWW + b"eins.txt\r\n" + WWW + b"zwei.txt\r\n" + WWW + b"drei.txt"),
             Upload(files={"vier.txt": b"4"}, listing=("", ["Eins.TXT", "vier.txt"]))]),
] + [
    Case("protect_%d_delclick_%d" % (int(protect), delclick), holds={"old1": b"x", "old2": b"x"},
         ini=dict(DelOld=1, DelClick=delclick, Protect=protect, History1="old1", History3="old2"), runs=[Upload(
             files={"new": b"n"}, stored={"new": b"n"},
             listing=("", ["new"] if recorded else ["new", "old1", "old2"]),
             history=["new", ""] if recorded else ["old1", "old2", ""], section={"Protect": after})])
    for delclick, protect, recorded, after in PROTECT
], shared=True)


class Failures(qptest.SharedSession):
    pass


rows(Failures, [
    # Fifty probes 200 ms apart.
    Case("unreachable_server", server="none", runs=[Upload(
        files={"a.txt": b"a"}, steps=[("answer", "Fehler:", OK, NO_CONNECTION)], min_seconds=9.5,
        clipboard=None, extra=lambda t, c: t.assertEqual(c.run.getsize_log(), []))]),
    Case("missing_directory", ini=dict(ServerDirectory="/nosuch/"), runs=[Upload(
        files={"a.txt": b"a"}, steps=[("answer", "Fehler:", OK, "Das angebene Verzeichnis existiert nicht!\r\n\r\nnosuch")],
        last="QUIT", not_sent=[r"^STOR"], listing=("", []))]),
    # An empty ServerDirectory that cannot be entered is no failure.
    Case("empty_directory_is_no_failure", ini=dict(ServerDirectory="/"), runs=[Upload(
        files={"a.txt": b"a"}, stored={"a.txt": b"a"}, getsize=r" \?$")]),
    # STOR onto a folder fails: three attempts, two pauses of 3.3 s; the
    # stand-in is ended by the run (no "end"); only the stored file is recorded.
    Case("upload_refused_three_times", holds={"blocked.txt": None, "old.txt": b"old"},
         ini=dict(DelOld=1, History1="old.txt"), runs=[Upload(
             files={"ok.txt": b"ok", "blocked.txt": b"never"},
             steps=[("answer", "Fehler:", OK, FAILED + "blocked.txt")], min_seconds=6.0,
             counts={"STOR ok.txt": 1, "STOR blocked.txt": 3}, channel=["text blocked.txt 5 0"], clipboard=None,
             history=["ok.txt", ""])]),
    Case("clipboard_held_by_another_program", holds={"a.txt": b"old"}, ini=dict(Ask=1), runs=[Upload(
        files={"a.txt": b"new", "b c.txt": b"b"}, steps=[clipboard_held], stored={"b_c.txt": b"b"},
        last="QUIT", clipboard=None)]),
    Case("missing_local_file", runs=[Upload(
        files={"gone.txt": None}, steps=[
            ("answer", "Zeilennummer nicht verfügbar.", OK, "Datei nicht gefunden: {local}\\gone.txt"),
            ("answer", "Fehler:", OK, FAILED + "gone.txt")],
        getsize=r"^cmd getsize\.exe gone\.txt -1 ", listing=("", []))]),
], shared=True)


class Utf8Names(qptest.SharedSession):
    pass


rows(Utf8Names, [
    # The real upload window: its own connection polls SIZE. The question
    # comes only because SIZE found the file under its UTF-8 name; the run
    # asked SIZE of the first file once, the upload window asks again. The
    # history holds the program's names; the next run deletes both files
    # under their UTF-8 names.
    Case("utf8_server_names_addresses_upload_window_and_history", getsize=qptest.exe("getsize.exe"),
         holds={"Grüße_2026.jpg": b"old"}, ini=dict(Ask=1, DelOld=1), utf8=True, runs=[
             Upload(files=UTF8_NAMES,
                    steps=[("box", "Achtung:", OVERWRITE % "Grüße_2026.jpg"), ("sent", "SIZE Bäume.txt", 2),
                           ("press", YES)],
                    stored={"Bäume.txt": payload("baum"), "Grüße_2026.jpg": payload("gruss")},
                    listing=("", ["Bäume.txt", "Grüße_2026.jpg"]), sent=["STOR Grüße_2026.jpg"],
                    clipboard=WWW + b"files/B%C3%A4ume.txt\r\n" + WWW + b"files/Gr%C3%BC%C3%9Fe_2026.jpg",
                    history=["Grüße_2026.jpg", "Bäume.txt", ""], extra=utf8_login),
             Upload(files={"danach.txt": b"x"}, listing=("", ["danach.txt"]), sent=["DELE Bäume.txt"])]),
    # vsftpd without utf8_filesystem lists no UTF8 in its FEAT reply.
    Case("server_without_utf8_gets_code_page_bytes", server="vsftpd",
         ini=dict(ServerDirectory="upload", ServerWWWDirectory=""), runs=[Upload(
             files=UTF8_NAMES, listing=(b"upload", [b"B\xe4ume.txt", b"Gr\xfc\xdfe_2026.jpg"]),
             stored={b"upload/B\xe4ume.txt": payload("baum")},
             clipboard=WWW + b"B%E4ume.txt\r\n" + WWW + b"Gr%FC%DFe_2026.jpg")]),
], shared=True)


def data_ports(test, ctx, want):
    """The data connections were announced with `want` ("EPSV", "EPRT" or
    "PASV") and nothing else."""
    cmds = commands_of(ctx.server)
    kinds = {c.split(" ")[0] for c in cmds if c.split(" ")[0] in ("PASV", "PORT", "EPSV", "EPRT")}
    test.assertEqual(kinds, {want}, cmds)
    if want == "EPRT":
        test.assertTrue(all(re.fullmatch(r"EPRT \|2\|::1\|\d+\|", c) for c in cmds if c.startswith("EPRT")), cmds)


class Ipv6(qptest.SharedSession):
    """Runs through tests/support/with_hosts: six.test names ::1 only,
    both.test ::1 and 127.0.0.1."""


rows(Ipv6, [
    Case("literal_passive", server="pyftpd6", ini=dict(ServerName="::1"), runs=[Upload(
        files={"eins.txt": payload("eins", 150000), "Zwei Bild.jpg": payload("zwei", 70001)},
        stored={"eins.txt": payload("eins", 150000), "Zwei_Bild.jpg": payload("zwei", 70001)},
        clipboard=WWW + b"files/eins.txt\r\n" + WWW + b"files/Zwei_Bild.jpg", last="QUIT",
        extra=lambda t, c: data_ports(t, c, "EPSV"))]),
    Case("brackets_active", server="pyftpd6", ini=dict(ServerName="[::1]", PassiveMode=0), runs=[Upload(
        files={"aktiv.bin": payload("aktiv", 300000)}, stored={"aktiv.bin": payload("aktiv", 300000)},
        clipboard=WWW + b"files/aktiv.bin", extra=lambda t, c: data_ports(t, c, "EPRT"))]),
    # A host name with only an IPv6 address.
    Case("name_with_ipv6_only", server="pyftpd6", ini=dict(ServerName="six.test"), runs=[Upload(
        files={"sechs.txt": payload("sechs")}, stored={"sechs.txt": payload("sechs")},
        clipboard=WWW + b"files/sechs.txt", extra=lambda t, c: data_ports(t, c, "EPSV"))]),
    # Nothing listens on ::1: the name's IPv4 address is tried next, and
    # IPv4 keeps PASV.
    Case("name_with_both_ipv6_refuses", ini=dict(ServerName="both.test"), runs=[Upload(
        files={"beide.txt": payload("beide")}, stored={"beide.txt": payload("beide")},
        clipboard=WWW + b"files/beide.txt", extra=lambda t, c: data_ports(t, c, "PASV"))]),
    # The real upload window signs on over ::1 too, on its own connection:
    # while the question for the second file holds the run, it has signed on.
    Case("upload_window_over_ipv6", server="pyftpd6", getsize=qptest.exe("getsize.exe"),
         holds={"alt.txt": b"old"}, ini=dict(ServerName="::1", Ask=1), runs=[Upload(
             files={"erst.txt": payload("erst"), "alt.txt": payload("neu")},
             steps=[("box", "Achtung:", OVERWRITE % "alt.txt"), ("sent", "USER user", 2), ("press", YES)],
             stored={"erst.txt": payload("erst"), "alt.txt": payload("neu")}, counts={"USER user": 2},
             extra=lambda t, c: data_ports(t, c, "EPSV"))]),
    Case("port_in_server_name_is_refused", server="pyftpd6", ini=dict(ServerName="[::1]:21"), runs=[Upload(
        files={"a.txt": b"a"}, steps=[("answer", "Fehler:", OK, NO_CONNECTION)], clipboard=None,
        extra=lambda t, c: t.assertEqual(commands_of(c.server), []))]),
], shared=True)


class Serialised(unittest.TestCase):
    def test_second_run_waits_for_first(self):
        with qptest.Session("up-two") as s, qptest.PyFtpd(os.path.join(s.dir, "srv-a")) as ftpd_a, \
                qptest.PyFtpd(os.path.join(s.dir, "srv-b")) as ftpd_b:
            ftpd_a.put("a1.bin", b"server copy")
            ftpd_b.put("in")
            a, b = Run(s, "a"), Run(s, "b")
            a.configure(ftpd_a, Ask=1, UseClipboardFunction=0)
            b.configure(ftpd_b, UseClipboardFunction=0, ServerDirectory="in")
            data = {n: payload(n, 300000) for n in ("a1", "a2", "b1", "b2")}
            pa = a.start([a.file(n + ".bin", data[n]) for n in ("a1", "a2")])
            # A holds the "FTPUPLOAD" title while its question is open.
            box = s.wait_box("Achtung:")
            self.assertNotEqual(s.find_window("FTPUPLOAD"), 0)
            pb = b.start([b.file(n + ".bin", data[n]) for n in ("b1", "b2")])
            # B is connected and in its folder, then waits: nothing stored
            # while A's question is open.
            qptest.wait_until(lambda: "CWD in" in ftpd_b.commands(), 30, "B in its folder")
            with self.assertRaises(qptest.TimeoutError_):
                qptest.wait_until(lambda: pb.poll() is not None or
                                  any(c.startswith("STOR") for c in ftpd_b.commands()), 1.5, "B to go on")
            s.press(box, YES)
            s.wait_exit(pa, RUN_LIMIT)
            s.wait_exit(pb, RUN_LIMIT)
            for server, name in ((ftpd_a, "a1"), (ftpd_a, "a2"), (ftpd_b, "in/b1"), (ftpd_b, "in/b2")):
                self.assertEqual(server.get(name + ".bin"), data[name[-2:]], name)
            self.assertLess(os.path.getmtime(ftpd_a.path("a2.bin")), os.path.getmtime(ftpd_b.path("in/b1.bin")))


if __name__ == "__main__":
    unittest.main()
