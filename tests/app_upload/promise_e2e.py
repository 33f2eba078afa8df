"""End-to-end runs of Quillpost.exe against scripted servers that misbehave
in one way each, as rows (tests/support/uploads.py): an address goes into
the clipboard only when the server holds the whole file, and a failure is
reported only after three real attempts.

    promise_e2e.py Class[.test_name]
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402
from scriptftpd import PortIntruder  # noqa: E402
from uploads import FAILED, Case, Sparse, Upload, payload, rows  # noqa: E402

WWW = b"http://www.example.com/files/"
HUGE = 4608 << 20
# Sparse on both sides: the server keeps only the length and the non-zero
# bytes, which sit around the 2 GiB and 4 GiB marks.
MARKS = {0: b"start", (2 << 30) - 3: b"2GiB-edge", (4 << 30) - 2: b"4GiB-edge", HUGE - 3: b"end"}


def idle_close(test, ctx):
    """The overwrite question for the second file stays open until the
    server has said "421 Timeout." and closed the idle connection."""
    ctx.box = ctx.s.wait_box("Achtung:")
    ctx.server.idle_close = 1
    test.assertTrue(ctx.server.idle_closed.wait(30))
    ctx.s.press(ctx.box, qptest.IDYES)


def relogin(test, ctx):
    """The second file comes over a new login that asks FEAT like the first
    one, then returns to the run's folder. The X hash commands the first
    connection found unknown are not asked again."""
    cmds = ctx.server.commands
    second = cmds.index("USER user", 1)
    test.assertEqual(cmds[second:second + 6], ["USER user", "PASS pass", "FEAT", "CWD /", "CWD in", "TYPE I"])


def nothing_for_the_intruder(test, ctx):
    test.assertEqual(ctx.server.on_port.results(), [{"bytes": 0, "ended": True}])


class Promises(qptest.SharedSession):
    pass


rows(Promises, [
    # The server keeps 1 MB of 3 and still answers 226, three times.
    Case("truncated_by_the_server_is_no_upload", server="scripted", scripted=dict(faults={"STOR": ["truncate"] * 3}),
         runs=[Upload(files={"big.bin": payload("trunc", 3000000)},
                      steps=[("answer", "Fehler:", qptest.IDOK, FAILED + "big.bin")],
                      counts={"STOR big.bin": 3, "SIZE big.bin": 3}, clipboard=None)]),
    # Attempt 1: the data connection ends orderly after 1 MB; attempt 2: the
    # server keeps 1 MB; attempt 3 stores the whole file.
    Case("cut_off_and_truncated_attempts_are_retried", server="scripted", ini=dict(PassiveMode=0),
         scripted=dict(faults={"STOR": ["cutoff", "truncate"]}), runs=[Upload(
             files={"cut.bin": payload("cut", 3000000)}, stored={"cut.bin": payload("cut", 3000000)},
             counts={"STOR cut.bin": 3}, clipboard=WWW + b"cut.bin")]),
    Case("server_closes_an_idle_connection_before_the_second_file", server="scripted",
         scripted=dict(files={"two.bin": b"older"}), ini=dict(ServerDirectory="in", Ask=1), runs=[Upload(
             files={"one.bin": payload("one", 200000), "two.bin": payload("two", 300000)}, steps=[idle_close],
             stored={"one.bin": payload("one", 200000), "two.bin": payload("two", 300000)},
             clipboard=WWW + b"one.bin\r\n" + WWW + b"two.bin", counts={"USER user": 2, "STOR two.bin": 1,
                                                                          "XSHA256": 1},
             extra=relogin)]),
    Case("numbered_lines_in_multi_line_replies", server="scripted", ini=dict(ServerDirectory="pub"),
         scripted=dict(greeting=["220-Welcome", "1. Be nice", "2 uploads per hour", "220 ready"],
                       cwd_reply=["250-Directory changed", "1 file here", "2 files there", "250 OK"]),
         runs=[Upload(files={"m.txt": payload("multi", 50000)}, stored={"m.txt": payload("multi", 50000)},
                      clipboard=WWW + b"m.txt")]),
    # Another host reaches the announced port before the server.
    Case("third_party_at_the_port_address_gets_nothing", server="scripted", ini=dict(PassiveMode=0),
         scripted=dict(on_port=PortIntruder()), runs=[Upload(
             files={"mine.bin": payload("mine", 3000000)}, stored={"mine.bin": payload("mine", 3000000)},
             clipboard=WWW + b"mine.bin", extra=nothing_for_the_intruder)]),
], shared=True)


class SlowLinks(qptest.SharedSession):
    pass


rows(SlowLinks, [
    # The server never reads: each attempt ends after 15 s without progress
    # (three waits and two pauses), and the next one starts over a new login.
    Case("stall_fails_after_three_real_attempts", server="scripted", scripted=dict(faults={"STOR": ["stall"] * 3}),
         runs=[Upload(files={"stall.bin": Sparse(64 << 20, {0: b"x"})}, limit=120, min_seconds=45,
                      steps=[("answer", "Fehler:", qptest.IDOK, FAILED + "stall.bin")],
                      counts={"STOR stall.bin": 3, "USER user": 3}, clipboard=None)]),
    Case("two_kilobytes_a_second_for_forty_seconds", server="scripted", scripted=dict(throttle=2000),
         ini=dict(PassiveMode=0), runs=[Upload(
             files={"slow.bin": payload("slow", 80000)}, limit=120, stored={"slow.bin": payload("slow", 80000)},
             counts={"STOR slow.bin": 1}, clipboard=WWW + b"slow.bin",
             extra=lambda t, c: t.assertGreater(c.elapsed_to_exit, 38))]),
    Case("file_of_four_and_a_half_gib", server="scripted", scripted=dict(sink=True), runs=[Upload(
        files={"huge.bin": Sparse(HUGE, MARKS)}, limit=900, sent=["SIZE huge.bin"],
        getsize=r"^cmd getsize\.exe huge\.bin 4831838208 ", clipboard=WWW + b"huge.bin",
        extra=lambda t, c: t.assertEqual((len(c.server.files["huge.bin"]), c.server.files["huge.bin"].runs),
                                         (HUGE, MARKS)))]),
], shared=True)


if __name__ == "__main__":
    unittest.main()
