"""A scripted FTP server on 127.0.0.1 for fault tests of data transfers.

It speaks enough FTP for the command interface (USER, PASS, TYPE, PWD, CWD,
SIZE, PASV, PORT, STOR, APPE, RETR, LIST, NLST, DELE, MKD, RMD, RNFR, RNTO,
QUIT, and FEAT and REST when asked to) over an in-memory file store, and
misbehaves on request: `faults` maps a command to a list of fault names,
used one per occurrence of that command, after which the command behaves
normally again.

    with ScriptedFtpd(faults={"STOR": ["first550"]}) as srv:
        ...
        srv.commands        # command lines received, in order
        srv.data_links      # one dict per data connection (mode, addresses)
        srv.files           # name -> bytes (get, put and listdir as the
                            # other server fixtures have them; folders are
                            # not kept)
        srv.received        # data bytes of every STOR and APPE, in all

Faults:
    STOR/APPE: first550 (550 instead of 150), final451 / final552 (that reply
        after all data), early226 (226 once srv.expect bytes arrived, before
        the client closes), reset (RST after srv.reset_after bytes, then 426),
        stall (never read the data connection), truncate (read everything,
        keep srv.keep_bytes, answer 226), cutoff (end the data connection
        orderly after srv.keep_bytes, keep them, answer 226, read and drop
        the rest through a 128 KiB receive buffer), cut (once srv.cut_after
        bytes arrived: keep them, reset the data connection and close the
        control connection, as a link that breaks), losecontrol (close the
        control connection srv.lose_control_after seconds into the data,
        read the data to its end and keep it all, as when a router forgot
        the quiet control connection)
    RETR: final226first (226 on the control connection, then the data close
        after 300 ms), final226after (data close, then 226 after 300 ms),
        reset (half the file, then RST and 426)
    PASV: otherhost (the 227 reply names 127.0.0.2; the listener is on
        127.0.0.1 only)
    PASS: fail530
    REST: refuse (502)
    GREETING (per connection, before any command): 421 ("421 Too many
        connections", then the connection closes)
    any command: 421, garbled (a line of junk instead of the reply), drop,
        noreply, as in random mode

Settings: greeting, cwd_reply, and stor_first / stor_final (the replies of
STOR before and after the data) are lists of reply lines, for multi-line
replies; no_size (SIZE answered 502), idle_close (seconds without a
command after which the first session says "421 Timeout." and closes; the
event idle_closed is set then), throttle (bytes per second read from a
data connection of STOR), sink (STOR keeps no bytes: srv.files gets a Sink
with the length and the non-zero runs), on_port (called with the PORT target
before the 200 reply), feat (feature lines of a 211 reply to FEAT, for
instance ["REST STREAM"]; None: FEAT is answered 502, as before). With REST
n before it, STOR keeps the first n bytes of the file and writes from there.

Random mode: `random_faults=SEED` makes the server misbehave at random, per
command, with probability `fault_rate`: one of the faults above that the
command knows, or one any command can get: "421" (421, then the connection
closes), "garbled" (a line of junk instead of the reply), "drop" (the
connection closes without a reply) or "noreply" (the command is never
answered). Each connection draws from a generator seeded by SEED and the
connection's number, so a seed replays the same misbehaviour. srv.random_log lists
(connection, command, fault) as they were drawn.
"""
import contextlib
import random
import re
import socket
import struct
import threading
import time


# Faults a command can draw in random mode, besides the ones every command can.
COMMAND_FAULTS = {
    "STOR": ["first550", "final451", "final552", "early226", "reset", "stall", "truncate", "cutoff"],
    "APPE": ["first550", "final451", "final552", "early226", "reset", "stall", "truncate", "cutoff"],
    "RETR": ["final226first", "final226after", "reset"],
    "PASV": ["otherhost"],
    "PASS": ["fail530"],
}
ANY_COMMAND_FAULTS = ["421", "garbled", "drop", "noreply"]
JUNK = b"2\xff\xfe\x80 #%&"  # a reply line that cannot be read, outside random mode


class ScriptedFtpd:
    def __init__(self, faults=None, files=None, random_faults=None, fault_rate=0.1):
        self.faults = {k: list(v) for k, v in (faults or {}).items()}
        self.random_seed = random_faults
        self.fault_rate = fault_rate
        self.random_log = []
        self._connections = 0
        self.files = dict(files or {})
        self.commands = []
        self.data_links = []
        self.expect = 0
        self.received = 0
        self.feat = None
        self.cut_after = 20 * 1000 * 1000
        self.lose_control_after = 1.0
        self.reset_after = 64 * 1024
        self.keep_bytes = 1024 * 1024
        self.greeting = ["220 scripted server ready"]
        self.cwd_reply = ["250 Directory changed."]
        self.stor_first = ["150 Opening data connection."]
        self.stor_final = ["226 Transfer complete."]
        self.no_size = False
        self.idle_close = 0
        self.idle_closed = threading.Event()
        self.throttle = 0
        self.sink = False
        self.on_port = None
        self._stop = threading.Event()
        self._threads = []
        self._listener = socket.socket()
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(5)
        self.port = self._listener.getsockname()[1]

    def __enter__(self):
        t = threading.Thread(target=self._accept_loop, daemon=True)
        t.start()
        self._threads.append(t)
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._listener.close()
        for t in self._threads:
            t.join(5)
        return False

    def _accept_loop(self):
        self._listener.settimeout(0.2)
        while not self._stop.is_set():
            try:
                conn, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self._connections += 1
            t = threading.Thread(target=_Session(self, conn, self._connections).run, daemon=True)
            t.start()
            self._threads.append(t)

    def fault(self, command):
        queue = self.faults.get(command)
        return queue.pop(0) if queue else None

    def fault_for_any(self, command):
        """The next fault of `command` when it is one that any command can
        get (taken from its queue), else None (left for the command)."""
        queue = self.faults.get(command)
        return queue.pop(0) if queue and queue[0] in ANY_COMMAND_FAULTS else None

    def draw(self, rng, connection, command):
        """Random mode: the fault this occurrence of `command` gets, or None."""
        if rng is None or rng.random() >= self.fault_rate:
            return None
        fault = rng.choice(COMMAND_FAULTS.get(command, []) + ANY_COMMAND_FAULTS)
        self.random_log.append((connection, command, fault))
        return fault

    def get(self, name):
        return self.files.get(name)

    def put(self, name, data=None):
        if data is not None:
            self.files[name] = data

    def listdir(self, folder=""):
        return sorted(self.files)


class PortIntruder:
    """Another host (127.0.0.2) that reaches every PORT address before the
    server and reads what arrives; set it as on_port. `results()` gives one
    {"bytes": n, "ended": bool} per PORT command."""

    def __init__(self):
        self._seen = []

    def __call__(self, target):
        sock = socket.socket()
        sock.bind(("127.0.0.2", 0))
        sock.settimeout(20)
        sock.connect(target)
        got = {"bytes": 0, "ended": False}

        def read():
            with contextlib.suppress(OSError):
                while True:
                    chunk = sock.recv(65536)
                    if not chunk:
                        break
                    got["bytes"] += len(chunk)
            got["ended"] = True
            sock.close()
        t = threading.Thread(target=read, daemon=True)
        t.start()
        self._seen.append((t, got))

    def results(self, timeout=10):
        for t, _ in self._seen:
            t.join(timeout)
        return [got for _, got in self._seen]


def _reset(sock):
    """Closes with an RST instead of a FIN."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class Sink:
    """What a STOR into the sink brought: its length and its non-zero runs
    as {offset: bytes}, adjacent runs joined."""

    def __init__(self):
        self.length = 0
        self.runs = {}
        self._last = None  # (offset, end) of the last run

    def __len__(self):
        return self.length

    def add(self, chunk):
        if not chunk.strip(b"\x00"):  # fast path: nothing but zeros
            self.length += len(chunk)
            self._last = None
            return
        for m in re.finditer(rb"[^\x00]+", chunk):
            start = self.length + m.start()
            if self._last and self._last[1] == start:
                self.runs[self._last[0]] += m.group()
                self._last = (self._last[0], start + len(m.group()))
            else:
                self.runs[start] = m.group()
                self._last = (start, start + len(m.group()))
        self.length += len(chunk)


class _Session:
    def __init__(self, server, conn, number=1):
        self.srv = server
        self.conn = conn
        self.number = number
        self.rng = None
        if server.random_seed is not None:
            self.rng = random.Random("%s-%d" % (server.random_seed, number))
        self.buf = b""
        self.pasv = None
        self.port_target = None
        self.rename_from = None
        self.rest = 0
        self.cwd = "/"

    def reply(self, line):
        self.conn.sendall(line.encode("cp1252") + b"\r\n")

    def readline(self):
        idle_since = time.monotonic()
        while b"\n" not in self.buf:
            if self.srv._stop.is_set():
                return None
            try:
                chunk = self.conn.recv(4096)
            except socket.timeout:
                limit = self.srv.idle_close
                if limit and time.monotonic() - idle_since > limit:
                    self.srv.idle_close = 0
                    self.reply("421 Timeout.")
                    self.srv.idle_closed.set()
                    return None
                continue
            except OSError:
                return None
            if not chunk:
                return None
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.rstrip(b"\r").decode("cp1252")

    def run(self):
        self.conn.settimeout(0.2)
        try:
            if self.srv.fault("GREETING") == "421":
                self.reply("421 Too many connections")
                return
            for line in self.srv.greeting:
                self.reply(line)
            while True:
                line = self.readline()
                if line is None:
                    break
                self.srv.commands.append(line)
                verb, _, arg = line.partition(" ")
                drawn = self.srv.draw(self.rng, self.number, verb.upper()) or self.srv.fault_for_any(verb.upper())
                if drawn == "421":
                    self.reply("421 Service not available, closing control connection.")
                    break
                if drawn == "drop":
                    break
                if drawn == "noreply":
                    continue
                if drawn == "garbled":
                    self.conn.sendall(self.garbage() + b"\r\n")
                    continue
                if drawn:
                    self.srv.faults.setdefault(verb.upper(), []).insert(0, drawn)
                handler = getattr(self, "do_" + verb.upper(), None)
                if handler is None:
                    self.reply("502 Command not implemented.")
                elif handler(arg) == "quit":
                    break
        except OSError:
            pass
        finally:
            self.conn.close()
            if self.pasv:
                self.pasv.close()

    def garbage(self):
        """A line of junk: sometimes with a code in front, sometimes without."""
        if self.rng is None:
            return JUNK
        junk = bytes(self.rng.choice(b"!#$%&*+-/<=>?@^_~abcxyzQRS0123456789 \x80\xff")
                     for _ in range(self.rng.randint(1, 40)))
        if self.rng.random() < 0.5:
            return str(self.rng.randint(100, 999)).encode() + junk
        return junk.lstrip(b"0123456789") or b"?"

    # -- plain commands ---------------------------------------------------
    def do_USER(self, arg):
        self.reply("331 Password required.")

    def do_PASS(self, arg):
        if self.srv.fault("PASS") == "fail530":
            self.reply("530 Login incorrect.")
        else:
            self.reply("230 Logged in.")

    def do_TYPE(self, arg):
        self.reply("200 Type set to " + arg + ".")

    def do_SYST(self, arg):
        self.reply("215 UNIX Type: L8")

    def do_PWD(self, arg):
        self.reply('257 "%s" is the current directory.' % self.cwd)

    def do_CWD(self, arg):
        self.cwd = arg
        for line in self.srv.cwd_reply:
            self.reply(line)

    def do_SIZE(self, arg):
        if self.srv.no_size:
            self.reply("502 Command not implemented.")
        elif arg in self.srv.files:
            self.reply("213 %d" % len(self.srv.files[arg]))
        else:
            self.reply("550 No such file.")

    def do_DELE(self, arg):
        if self.srv.files.pop(arg, None) is None:
            self.reply("550 No such file.")
        else:
            self.reply("250 Deleted.")

    def do_MKD(self, arg):
        self.reply('257 "%s" created.' % arg)

    def do_RMD(self, arg):
        self.reply("250 Removed.")

    def do_RNFR(self, arg):
        self.rename_from = arg
        self.reply("350 Ready for RNTO.")

    def do_RNTO(self, arg):
        self.srv.files[arg] = self.srv.files.pop(self.rename_from, b"")
        self.reply("250 Renamed.")

    def do_FEAT(self, arg):
        if self.srv.feat is None:
            self.reply("502 Command not implemented.")
            return
        self.reply("211-Features:")
        for feature in self.srv.feat:
            self.reply(" " + feature)
        self.reply("211 End")

    def do_REST(self, arg):
        if self.srv.fault("REST") == "refuse":
            self.reply("502 Command not implemented.")
        elif arg.isdigit():
            self.rest = int(arg)
            self.reply("350 Restarting at %d." % self.rest)
        else:
            self.reply("501 Invalid REST parameter.")

    def do_QUIT(self, arg):
        self.reply("221 Goodbye.")
        return "quit"

    # -- data connections -------------------------------------------------
    def do_PASV(self, arg):
        if self.pasv:
            self.pasv.close()
        self.pasv = socket.socket()
        if self.srv.throttle:
            # A small window, so that the client feels the throttle at once.
            self.pasv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.pasv.bind(("127.0.0.1", 0))
        self.pasv.listen(1)
        self.port_target = None
        p = self.pasv.getsockname()[1]
        host = "127,0,0,2" if self.srv.fault("PASV") == "otherhost" else "127,0,0,1"
        self.reply("227 Entering Passive Mode (%s,%d,%d)." % (host, p // 256, p % 256))

    def do_PORT(self, arg):
        n = [int(x) for x in arg.split(",")]
        self.port_target = ("%d.%d.%d.%d" % tuple(n[:4]), n[4] * 256 + n[5])
        if self.pasv:
            self.pasv.close()
            self.pasv = None
        if self.srv.on_port:
            self.srv.on_port(self.port_target)
        self.reply("200 PORT command successful.")

    def open_data(self):
        if self.pasv:
            self.pasv.settimeout(10)
            sock, peer = self.pasv.accept()
            self.pasv.close()
            self.pasv = None
            mode = "passive"
        else:
            sock = socket.socket()
            if self.srv.throttle:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            sock.settimeout(10)
            sock.connect(self.port_target)
            peer = sock.getpeername()
            mode = "active"
        sock.settimeout(20)
        self.srv.data_links.append({"mode": mode, "local": sock.getsockname(), "peer": peer})
        return sock

    def do_STOR(self, arg, append=False):
        fault = self.srv.fault("APPE" if append else "STOR")
        rest, self.rest = self.rest, 0
        if fault == "first550":
            self.reply("550 Permission denied.")
            return
        # The file is opened for writing: its first `rest` bytes stay.
        kept = bytes(self.srv.files.get(arg, b""))[:rest] if rest else b""
        if not append:
            self.srv.files[arg] = kept
        for line in self.srv.stor_first:
            self.reply(line)
        data = self.open_data()
        if fault == "cutoff":
            # A bounded window, as any real path has: without SIZE the early
            # end is seen only if it reaches the client before the client's
            # end of the file, so the rest of the file must not fit into the
            # buffers between the two (with an autotuned loopback window it
            # may, on a busy machine).
            data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 128 * 1024)
        received = bytearray(kept)
        if fault == "stall":
            while not self.srv._stop.is_set():
                try:
                    if self.conn.recv(1, socket.MSG_PEEK) == b"":
                        break
                except socket.timeout:
                    continue
                except OSError:
                    break
            _reset(data)
            return
        sent_early = False
        sink = Sink() if self.srv.sink else None
        throttle = self.srv.throttle
        started = time.monotonic()
        total = 0
        control = True
        while True:
            try:
                chunk = data.recv(min(65536, throttle) if throttle else 1 << 20)
            except OSError:
                break
            if not chunk:
                break
            total += len(chunk)
            self.srv.received += len(chunk)
            if fault == "cut" and total >= self.srv.cut_after:
                received += chunk[:self.srv.cut_after - (total - len(chunk))]
                self.srv.files[arg] = bytes(received)
                _reset(data)
                _reset(self.conn)
                return
            if fault == "losecontrol" and control and time.monotonic() - started >= self.srv.lose_control_after:
                _reset(self.conn)
                control = False
            if throttle:
                # Hold the rate: the next read waits until it is due.
                delay = started + total / throttle - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            if sink is not None:
                sink.add(chunk)
                continue
            if fault == "truncate":
                chunk = chunk[:max(0, self.srv.keep_bytes - len(received))]
            elif fault == "cutoff" and len(received) + len(chunk) >= self.srv.keep_bytes:
                received += chunk[:self.srv.keep_bytes - len(received)]
                # An orderly end in the middle of the file, as a middlebox may
                # give; the rest is read and thrown away.
                data.shutdown(socket.SHUT_WR)
                self.srv.files[arg] = bytes(received)
                self.reply("226 Transfer complete.")
                try:
                    while data.recv(65536):
                        pass
                except OSError:
                    pass
                data.close()
                return
            received += chunk
            if fault == "reset" and len(received) >= self.srv.reset_after:
                _reset(data)
                data = None
                self.reply("426 Connection reset; transfer aborted.")
                return
            if fault == "early226" and not sent_early and len(received) >= self.srv.expect:
                self.reply("226 Transfer complete.")
                sent_early = True
        data.close()
        if sink is not None:
            self.srv.files[arg] = sink
        else:
            old = self.srv.files.get(arg, b"") if append else b""
            self.srv.files[arg] = old + bytes(received)
        if not control:
            return
        if fault == "final451":
            self.reply("451 Local error in processing.")
        elif fault == "final552":
            self.reply("552 Exceeded storage allocation.")
        elif not sent_early:
            for line in self.srv.stor_final:
                self.reply(line)

    def do_APPE(self, arg):
        self.do_STOR(arg, append=True)

    def do_RETR(self, arg):
        if arg not in self.srv.files:
            self.reply("550 No such file.")
            return
        self.send_data(self.srv.files[arg], self.srv.fault("RETR"))

    def do_LIST(self, arg):
        listing = "".join("-rw-r--r-- 1 ftp ftp %d Jan 01 00:00 %s\r\n" % (len(v), k)
                          for k, v in sorted(self.srv.files.items()))
        self.send_data(listing.encode("cp1252"), self.srv.fault("LIST"))

    def do_NLST(self, arg):
        self.send_data("".join(k + "\r\n" for k in sorted(self.srv.files)).encode("cp1252"), None)

    def send_data(self, payload, fault):
        self.reply("150 Opening data connection.")
        data = self.open_data()
        if fault == "reset":
            data.sendall(payload[:len(payload) // 2])
            time.sleep(0.2)
            _reset(data)
            self.reply("426 Connection reset; transfer aborted.")
            return
        data.sendall(payload)
        if fault == "final226first":
            self.reply("226 Transfer complete.")
            time.sleep(0.3)
            data.close()
        elif fault == "final226after":
            data.close()
            time.sleep(0.3)
            self.reply("226 Transfer complete.")
        else:
            data.close()
            self.reply("226 Transfer complete.")
