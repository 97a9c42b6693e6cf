"""A minimal ONC RPC and VXI-11 client from the protocol's public numbers; instrument-sim under Wine."""
import contextlib
import os
import socket
import struct
import subprocess
import sys

CORE, PORTMAPPER = 0x0607AF, 100000
SKIP = 77  # CTest's SKIP_RETURN_CODE for these tests
IDN = "Morvane,SIM-1,0,1.0\n"
failures = []  # what check found wrong, which finish prints


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r:.200}, expected {expected!r:.200}")


def finish():
    print("\n".join(failures) or "every check passed")
    sys.exit(1 if failures else 0)


def opaque(data):
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


def call_message(xid, program, version, procedure, args=b"", rpc_version=2, kind=0, credentials=b"", verifier=b""):
    """An RPC call (kind 0) as it goes in a record: AUTH_NONE's flavour with the bodies given."""
    return (struct.pack(">IIIIIII", xid, kind, rpc_version, program, version, procedure, 0) + opaque(credentials) +
            struct.pack(">I", 0) + opaque(verifier) + args)


def take_opaque(results, at):
    (size,) = struct.unpack_from(">I", results, at)
    return results[at + 4:at + 4 + size]


def take_record(sock):
    """The next record of a TCP stream, its fragments joined."""
    record, last = b"", False
    while not last:
        (mark,) = struct.unpack(">I", exactly(sock, 4))
        last, record = bool(mark & 0x80000000), record + exactly(sock, mark & 0x7FFFFFFF)
    return record


def exactly(sock, count):
    data = b""
    while len(data) < count:
        if not (chunk := sock.recv(count - len(data))):
            raise ConnectionError("the server closed the connection")
        data += chunk
    return data


def connect(port, udp=False, timeout=10.0):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if udp else socket.SOCK_STREAM)
    sock.settimeout(5)  # past the listen backlog, a connection is retried after a second
    sock.connect(("127.0.0.1", port))
    sock.settimeout(timeout)
    return sock


class Rpc:
    """Calls over TCP (record marking, fragments joined) or UDP; returns (accept_stat, results)."""

    def __init__(self, port, udp=False):
        self.udp, self.xid, self.sock = udp, 0, connect(port, udp)

    def send(self, message):  # over TCP, a record of one fragment
        self.sock.sendall(message if self.udp else struct.pack(">I", 0x80000000 | len(message)) + message)

    def call(self, program, version, procedure, args=b""):
        self.xid += 1
        self.send(call_message(self.xid, program, version, procedure, args))
        reply = self.sock.recv(65536) if self.udp else take_record(self.sock)
        xid, kind, stat, _, verifier = struct.unpack_from(">IIIII", reply)
        assert (xid, kind, stat) == (self.xid, 1, 0), (xid, kind, stat)
        (accept,) = struct.unpack_from(">I", reply, 20 + verifier)
        return accept, reply[24 + verifier:]


class Link:  # one link on the core channel
    def __init__(self, port, device=b"inst0"):
        self.rpc = Rpc(port)
        self.error, self.lid, _, self.max_receive = struct.unpack(">iiII", self.create(device)[:16])

    def create(self, device=b"inst0"):
        return self.ok(10, struct.pack(">iiI", 7, 0, 0) + opaque(device))

    def ok(self, procedure, args):
        accept, results = self.rpc.call(CORE, 1, procedure, args)
        assert accept == 0, f"procedure {procedure}: accept_stat {accept}"
        return results

    def error_of(self, procedure, args):
        """The error code that starts the results of a call."""
        return struct.unpack_from(">i", self.ok(procedure, args))[0]

    def write(self, data, end=True, lid=None):
        results = self.ok(11, struct.pack(">iIIi", self.lid if lid is None else lid, 1000, 0, 8 if end else 0) + opaque(data))
        return struct.unpack(">iI", results)

    def read(self, size=1 << 20, term=None, timeout=1000):
        flags = 0x80 if term is not None else 0
        results = self.ok(12, struct.pack(">iIIIiI", self.lid, size, timeout, 0, flags, term or 0))
        return (*struct.unpack_from(">ii", results), take_opaque(results, 8))

    def query(self, command):
        assert self.write(command) == (0, len(command))
        error, reason, data = self.read()
        assert (error, reason) == (0, 4), (command, error, reason)
        return data.decode()

    def generic(self, procedure):
        return self.ok(procedure, struct.pack(">iiII", self.lid, 0, 0, 1000))


def closed(sock, seconds=5.0):
    """Whether the peer closes the connection within `seconds`, what came before it dropped."""
    sock.settimeout(seconds)
    try:
        while sock.recv(65536):
            pass
        return True
    except socket.timeout:
        return False
    except ConnectionError:
        return True


def proc(process, field):
    """A field of the process's /proc status: VmRSS in KiB, Threads."""
    with open(f"/proc/{process.pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith(field + ":"))


@contextlib.contextmanager
def server(*options):
    """instrument-sim under Wine: (process, the ports (or serial port) on its first line)."""
    folder = os.environ.get("MORVANE_BIN") or os.path.join(os.environ["BUILD_DIR"], "bin")
    process = subprocess.Popen([os.environ.get("WINE", "wine"), os.path.join(folder, "instrument-sim.exe"), "--port", "0",
                                "--seconds", "300", *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        yield process, [int(w) if w.isdigit() else w for w in process.stdout.readline().decode().split()]
    finally:
        process.kill()
        process.wait()
