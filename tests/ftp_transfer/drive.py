"""Runs scripts of FtpCommand calls through ftpdrive.exe inside a
qptest.Session and returns what each call gave back."""
import hashlib
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402


class Row:
    """One call: name, result (text), code, text, connected flag, ms."""

    def __init__(self, fields):
        self.name, self.result, code, self.text, flag, ms = fields
        self.code, self.flag, self.ms = int(code), int(flag), int(ms)

    @property
    def value(self):
        return int(self.result) if self.result.lstrip("-").isdigit() else self.result

    def __repr__(self):
        return "%s -> %s [%d %s] flag=%d %dms" % (self.name, self.result, self.code, self.text,
                                                  self.flag, self.ms)


class Run:
    def __init__(self, rows, cpu, complete, reports):
        self.rows, self.cpu, self.complete, self.reports = rows, cpu, complete, reports

    def __getitem__(self, i):
        return self.rows[i]

    def __len__(self):
        return len(self.rows)


def drive(session, calls, timeout=180, tag="script"):
    """calls: list of tuples (name, arg, ...). Returns a Run."""
    n = len([f for f in os.listdir(session.dir) if f.startswith(tag)])
    script = os.path.join(session.dir, "%s%d.txt" % (tag, n))
    output = os.path.join(session.dir, "%s%d.out" % (tag, n))
    with open(script, "wb") as f:
        for call in calls:
            f.write("\t".join(str(x) for x in call).encode("cp1252") + b"\r\n")
    code, console = session.run(qptest.exe("ftpdrive.exe"),
                                [session.winpath(script), session.winpath(output)], timeout=timeout)
    rows, cpu, complete, reports = [], None, False, []
    if os.path.exists(output):
        with open(output, "rb") as f:
            for line in f.read().decode("cp1252").split("\n"):
                fields = line.split("\t")
                if fields[0] == "cpu":
                    cpu = float(fields[1])
                elif fields[0] == "report":
                    reports.append((int(fields[1]), int(fields[2]), fields[3]))
                elif fields[0] == "end":
                    complete = True
                elif len(fields) == 6:
                    rows.append(Row(fields))
    if not complete:
        raise AssertionError("ftpdrive did not finish (exit %d): %r\n%s" %
                             (code, rows, console.decode("cp1252", "replace")))
    return Run(rows, cpu, complete, reports)


def md5_file(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def make_file(path, size, seed=1):
    """A file of `size` bytes whose content differs at every block offset."""
    block = hashlib.sha256(str(seed).encode()).digest() * 4096  # 128 KiB, not a power-of-1514 pattern
    block = bytes((b + i) & 0xFF for i, b in enumerate(block[:131071]))
    with open(path, "wb") as f:
        left = size
        while left > 0:
            f.write(block[:min(left, len(block))])
            left -= len(block)
    return path
