"""Runs a Windows program under tools/wine-run and passes when it exits with
the expected code: exit_code.py EXPECTED PROGRAM [ARGS...]"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
expected, program, args = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
# Output through a file: Wine's helper processes may hold a pipe open.
with tempfile.TemporaryFile() as out:
    try:
        code = subprocess.run([os.path.join(ROOT, "tools", "wine-run"), program] + args, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.STDOUT, timeout=60).returncode
    except subprocess.TimeoutExpired:
        print("FAIL: did not end within 60 s")
        sys.exit(1)
    out.seek(0)
    sys.stdout.write(out.read().decode("cp1252", "replace"))
print("exit code", code, "expected", expected)
sys.exit(0 if code == expected else 1)
