"""Runs ftp_control_live_test.exe (sign on, CWD, PWD, MKD, RMD, SIZE, DELE,
QUIT and the full operations) against real FTP servers on 127.0.0.1:
pyftpdlib with user and password, and vsftpd with anonymous login."""
import os
import pwd
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qptest  # noqa: E402

CONTENT = b"twelve bytes"


class LiveServers(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="ftpctl-live-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_live(self, session, port, user, password, directory, checks_password):
        session.env.update(QP_FTP_PORT=str(port), QP_FTP_USER=user, QP_FTP_PASS=password,
                           QP_FTP_DIR=directory, QP_FTP_FILE="hello.txt",
                           QP_FTP_FILE_SIZE=str(len(CONTENT)),
                           QP_FTP_CHECKS_PASSWORD="1" if checks_password else "0")
        code, output = session.run(qptest.exe("ftp_control_live_test.exe"), timeout=120)
        text = output.decode("cp1252", "replace") + session.last_stderr.decode("cp1252", "replace")
        self.assertEqual(code, 0, text)
        self.assertIn("[  PASSED  ] %d tests" % (3 if checks_password else 2), text)

    def test_pyftpdlib(self):
        root = os.path.join(self.work, "root")
        os.makedirs(root)
        with open(os.path.join(root, "hello.txt"), "wb") as f:
            f.write(CONTENT)
        with qptest.Session("ftpctl-pyftpd") as s, qptest.PyFtpd(root, "anna", "s3cret") as ftpd:
            self.run_live(s, ftpd.port, "anna", "s3cret", "/", True)
            commands = ftpd.commands()
        self.assertFalse(os.path.exists(os.path.join(root, "hello.txt")))
        self.assertEqual(os.listdir(root), [])
        self.assertIn("USER anna", commands)
        self.assertIn("DELE hello.txt", commands)
        self.assertIn("QUIT", commands)

    def test_vsftpd(self):
        with qptest.Session("ftpctl-vsftpd") as s, qptest.Vsftpd(self.work) as ftpd:
            name = os.path.join(ftpd.upload, "hello.txt")
            with open(name, "wb") as f:
                f.write(CONTENT)
            ftp = pwd.getpwnam("ftp")
            os.chown(name, ftp.pw_uid, ftp.pw_gid)
            self.run_live(s, ftpd.port, "anonymous", "", "upload", False)
            self.assertFalse(os.path.exists(name))
            self.assertEqual(os.listdir(ftpd.upload), [])


if __name__ == "__main__":
    unittest.main()
