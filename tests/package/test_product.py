"""The shipped programs are 32-bit Windows executables: Quillpost.exe and
getsize.exe GUI programs, the set-up program a console program."""
import os
import subprocess
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PRODUCT = os.environ.get("QP_PRODUCT_DIR", os.path.join(ROOT, "build-product"))


def kind(name):
    path = os.path.join(PRODUCT, name)
    return subprocess.run(["file", "-b", path], stdout=subprocess.PIPE, check=True).stdout.decode()


class ProductBuild(unittest.TestCase):
    def test_programs_are_pe32_for_intel_80386(self):
        for name, subsystem in (("Quillpost.exe", "GUI"), ("getsize.exe", "GUI"),
                                ("QuillpostSetup.exe", "console")):
            with self.subTest(name=name):
                k = kind(name)
                self.assertIn("PE32 executable (%s) Intel 80386" % subsystem, k)
                self.assertNotIn("PE32+", k)


if __name__ == "__main__":
    unittest.main()
