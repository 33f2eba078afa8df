"""End-to-end runs of Quillpost.exe over links and servers that fail the
way real ones do, as rows (tests/support/uploads.py): a busy server or a
damaged reply at the sign-on, a link that breaks half-way, a control
connection a router forgot while the data goes on, its keep-alives, and
copies the server stored with one byte changed.

    unreliable_e2e.py Class[.test_name]
"""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402
from uploads import FAILED, Case, Upload, payload, rows  # noqa: E402

WWW = b"http://www.example.com/files/"
MB = 1000 * 1000
TWO = {"eins.txt": payload("eins", 50000), "zwei.bin": payload("zwei", 300000)}
BOTH = WWW + b"eins.txt\r\n" + WWW + b"zwei.bin"
MISMATCH = "\r\n\r\nDie Datei auf dem Server weicht von der gesendeten ab (Prüfsumme %s)."


def connections(n):
    """The server saw n control connections (greetings refused included)."""
    return lambda t, c: t.assertEqual(c.server._connections, n)


def took_longer(seconds):
    """The run, to its end, took longer: the pauses between tries."""
    return lambda t, c: t.assertGreater(c.elapsed_to_exit, seconds)


def both(*checks):
    def check(test, ctx):
        for c in checks:
            c(test, ctx)
    return check


def received_at_most(limit):
    return lambda t, c: t.assertLessEqual(c.server.received, limit)


def keep_alive_timer(test, ctx):
    """While the data moves, the control connection's keep-alive timer (as
    `ss -tnoe` shows it on the client's side) runs at 30 s or less; the
    system's default would show about two hours."""
    port = ctx.server.port

    def timer():
        out = subprocess.run(["ss", "-tnoe", "state", "established", "( dport = :%d )" % port],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             text=True, timeout=10).stdout
        m = re.search(r"timer:\(keepalive,([\d.]+)(ms|sec|min)", out)
        return m and float(m.group(1)) * {"ms": 0.001, "sec": 1, "min": 60}[m.group(2)] or None
    seconds = qptest.wait_until(timer, 10, "the control connection's keep-alive timer")
    test.assertLessEqual(seconds, 30)


class SignOns(qptest.SharedSession):
    pass


rows(SignOns, [
    # Two tries 3.3 s apart are refused, the third connection signs on.
    Case("first_two_connections_greeted_with_421", server="scripted",
         scripted=dict(faults={"GREETING": ["421", "421"]}), runs=[Upload(
             files=TWO, stored=TWO, clipboard=BOTH, counts={"USER user": 1},
             extra=both(connections(3), took_longer(6.5)))]),
    Case("reply_to_the_first_pass_garbled", server="scripted", scripted=dict(faults={"PASS": ["garbled"]}),
         runs=[Upload(files=TWO, stored=TWO, clipboard=BOTH, counts={"PASS pass": 2}, extra=took_longer(3.2))]),
    # A wrong login is not tried again: the account could be locked.
    Case("wrong_login_is_tried_once", server="scripted", scripted=dict(faults={"PASS": ["fail530"]}),
         runs=[Upload(files=TWO, steps=[("answer", "Fehler:", qptest.IDOK,
                                         "Es konnte keine Verbindung zum Server aufgebaut werden!")],
                      counts={"PASS pass": 1}, clipboard=None, extra=connections(1))]),
], shared=True)


class Breaks(qptest.SharedSession):
    pass


rows(Breaks, [
    # Both connections are cut after 20 MB; the next attempt continues the
    # server's copy.
    Case("forty_mb_cut_half_way_is_continued", server="scripted",
         scripted=dict(faults={"STOR": ["cut"]}, feat=["REST STREAM"], cut_after=20 * MB), runs=[Upload(
             files={"big.bin": payload("forty", 40 * MB)}, stored={"big.bin": payload("forty", 40 * MB)},
             clipboard=WWW + b"big.bin", sent=["REST 20000000"], counts={"STOR big.bin": 2},
             extra=received_at_most(44 * MB))]),
    # The control connection goes 1 s into the data, which goes on: a new
    # login finds the copy whole and nothing is sent again.
    Case("control_lost_a_second_into_six_mb", server="scripted",
         scripted=dict(faults={"STOR": ["losecontrol"]}, throttle=2 * MB, lose_control_after=1.0), runs=[Upload(
             files={"six.bin": payload("six", 6 * MB)}, stored={"six.bin": payload("six", 6 * MB)},
             clipboard=WWW + b"six.bin", counts={"STOR six.bin": 1, "SIZE six.bin": 1, "USER user": 2},
             extra=received_at_most(6.6 * MB))]),
    Case("keep_alive_during_a_transfer", server="scripted", scripted=dict(throttle=300 * 1000), runs=[Upload(
        files={"slow.bin": payload("slow", 2 * MB)}, steps=[("sent", "STOR slow.bin", 1), keep_alive_timer],
        stored={"slow.bin": payload("slow", 2 * MB)}, clipboard=WWW + b"slow.bin")]),
], shared=True)


class Hashes(qptest.SharedSession):
    pass


rows(Hashes, [
    # SHA-1 is HASH's default here: SHA-256 is chosen first. The first copy
    # has one byte changed; the second attempt sends the file from its start.
    Case("hash_sha256_finds_a_changed_byte", pyftpd=dict(hash="SHA-1*;SHA-256;MD5", corrupt=1), runs=[Upload(
        files={"h.bin": payload("hash", 300000)}, stored={"h.bin": payload("hash", 300000)},
        clipboard=WWW + b"h.bin", sent=["OPTS HASH SHA-256"], counts={"STOR h.bin": 2, "HASH h.bin": 2},
        not_sent=[r"^REST"])]),
    Case("xmd5_finds_a_changed_byte", pyftpd=dict(xmd5="listed", corrupt=1), runs=[Upload(
        files={"x.bin": payload("xmd5", 300000)}, stored={"x.bin": payload("xmd5", 300000)},
        clipboard=WWW + b"x.bin", counts={"STOR x.bin": 2, "XMD5 x.bin": 2}, not_sent=[r"^XSHA"])]),
    # Not in FEAT, but known when asked: XMD5 without an argument gets 501.
    Case("unlisted_xmd5_is_found_by_asking", pyftpd=dict(xmd5="unlisted", corrupt=1), runs=[Upload(
        files={"u.bin": payload("unlisted", 100000)}, stored={"u.bin": payload("unlisted", 100000)},
        clipboard=WWW + b"u.bin", counts={"XSHA256": 1, "XMD5": 1, "XMD5 u.bin": 2}, not_sent=[r"^XCRC"])]),
    # Every copy changed: no address, and the message says why.
    Case("three_changed_copies_fail_with_the_reason", pyftpd=dict(hash="SHA-256*", corrupt=3), runs=[Upload(
        files={"m.bin": payload("mismatch", 100000)},
        steps=[("answer", "Fehler:", qptest.IDOK, FAILED + "m.bin" + MISMATCH % "SHA-256")],
        counts={"STOR m.bin": 3, "HASH m.bin": 3}, clipboard=None)]),
], shared=True)


if __name__ == "__main__":
    unittest.main()
