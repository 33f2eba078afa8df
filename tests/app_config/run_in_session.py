"""Runs a test program inside an isolated Wine session (own display, own
prefix with its own Send-To folder) and passes its exit code on."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402


def main():
    program = sys.argv[1]
    with qptest.Session(os.path.splitext(os.path.basename(program))[0]) as s:
        code, out = s.run(program, sys.argv[2:], timeout=120)
        sys.stdout.write(out.decode("cp1252", "replace"))
        sys.stdout.write(s.last_stderr.decode("cp1252", "replace"))
    return code


if __name__ == "__main__":
    sys.exit(main())
