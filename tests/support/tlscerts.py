"""A test certificate authority for FTPS tests: made with openssl in a
folder of the test's own, trusted through the machine's store
(update-ca-certificates), which Wine's crypt32 reads, and removed again.

    with tlscerts.TestCA(folder) as ca:       # trusted while inside
        cert, key = ca.server("localhost")    # signed by the CA
        cert, key = ca.server("other.example", names=["DNS:other.example"])
        cert, key = ca.expired("localhost")
        cert, key = ca.self_signed("localhost")   # not in any store
"""
import os
import subprocess

STORE = "/usr/local/share/ca-certificates"


def _openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def _refresh_store():
    subprocess.run(["update-ca-certificates", "--fresh"], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)


class TestCA:
    def __init__(self, folder, name="Quillpost Test CA"):
        self.dir = folder
        self.name = name
        # One file per process: test processes running side by side each
        # add and remove their own.
        self.store_file = os.path.join(STORE, "quillpost-test-%d.crt" % os.getpid())
        self.cert = os.path.join(folder, "ca.pem")
        self.key = os.path.join(folder, "ca.key")

    def __enter__(self):
        os.makedirs(self.dir, exist_ok=True)
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key, "-out", self.cert,
                 "-days", "30", "-subj", "/O=Quillpost Tests/CN=" + self.name,
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=self.dir)
        os.makedirs(STORE, exist_ok=True)
        try:
            with open(self.cert, "rb") as src, open(self.store_file, "wb") as dst:
                dst.write(src.read())
            _refresh_store()
        except BaseException:
            self.remove()
            raise
        return self

    def __exit__(self, *exc):
        self.remove()

    def remove(self):
        if os.path.exists(self.store_file):
            os.remove(self.store_file)
            _refresh_store()

    def _request(self, tag, cn):
        key = os.path.join(self.dir, tag + ".key")
        csr = os.path.join(self.dir, tag + ".csr")
        _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                 "-subj", "/O=Quillpost Tests/CN=" + cn, cwd=self.dir)
        return key, csr

    def _extensions(self, tag, names):
        ext = os.path.join(self.dir, tag + ".ext")
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                    "extendedKeyUsage=serverAuth\nsubjectAltName=%s\n" % ",".join(names))
        return ext

    def server(self, cn="localhost", names=("DNS:localhost", "IP:127.0.0.1"), tag=None):
        """A server certificate signed by this CA, valid from now for 30 days."""
        tag = tag or "srv-" + cn
        key, csr = self._request(tag, cn)
        cert = os.path.join(self.dir, tag + ".pem")
        _openssl("x509", "-req", "-in", csr, "-CA", self.cert, "-CAkey", self.key, "-CAcreateserial",
                 "-out", cert, "-days", "30", "-extfile", self._extensions(tag, names), cwd=self.dir)
        return cert, key

    def expired(self, cn="localhost", names=("DNS:localhost", "IP:127.0.0.1")):
        """Signed by this CA, but valid only in the past (a month ago for a day)."""
        tag = "expired-" + cn
        key, csr = self._request(tag, cn)
        cert = os.path.join(self.dir, tag + ".pem")
        # openssl x509 of Debian 12 cannot set dates in the past; openssl ca can.
        conf = os.path.join(self.dir, "ca.cnf")
        with open(conf, "w") as f:
            f.write("[ca]\ndefault_ca=test\n[test]\ndatabase=index.txt\nnew_certs_dir=.\n"
                    "serial=serial\ndefault_md=sha256\npolicy=any\n[any]\norganizationName=optional\n"
                    "commonName=supplied\n")
        open(os.path.join(self.dir, "index.txt"), "w").close()
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("1000\n")
        _openssl("ca", "-batch", "-config", conf, "-cert", self.cert, "-keyfile", self.key, "-in", csr,
                 "-out", cert, "-notext", "-startdate", _utc(-40), "-enddate", _utc(-39),
                 "-extfile", self._extensions(tag, names), cwd=self.dir)
        return cert, key

    def self_signed(self, cn="localhost", names=("DNS:localhost", "IP:127.0.0.1")):
        """Signed by itself: in no store."""
        tag = "self-" + cn
        key = os.path.join(self.dir, tag + ".key")
        cert = os.path.join(self.dir, tag + ".pem")
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "30",
                 "-subj", "/O=Quillpost Tests/CN=" + cn, "-addext", "subjectAltName=" + ",".join(names),
                 cwd=self.dir)
        return cert, key


def _utc(days):
    import datetime
    t = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=days)
    return t.strftime("%Y%m%d%H%M%SZ")
