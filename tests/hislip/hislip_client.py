"""A minimal HiSLIP client for the tests, written from the protocol's public numbers alone, and
instrument-sim --hislip started under Wine."""
import os
import select
import socket
import struct
import subprocess
import sys

HEADER = struct.Struct(">2sBBIQ")
(INITIALIZE, INITIALIZE_RESPONSE, FATAL_ERROR, ERROR, ASYNC_LOCK, ASYNC_LOCK_RESPONSE, DATA, DATA_END,
 DEVICE_CLEAR_COMPLETE, DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_REMOTE_LOCAL_CONTROL, ASYNC_REMOTE_LOCAL_RESPONSE, TRIGGER,
 INTERRUPTED, ASYNC_INTERRUPTED, ASYNC_MAXIMUM_MESSAGE_SIZE, ASYNC_MAXIMUM_MESSAGE_SIZE_RESPONSE, ASYNC_INITIALIZE,
 ASYNC_INITIALIZE_RESPONSE, ASYNC_DEVICE_CLEAR, ASYNC_SERVICE_REQUEST, ASYNC_STATUS_QUERY, ASYNC_STATUS_RESPONSE,
 ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_LOCK_INFO, ASYNC_LOCK_INFO_RESPONSE) = range(26)
FIRST_ID = 0xFFFFFF00
failures = []  # what check found wrong, which finish prints


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r:.200}, expected {expected!r:.200}")


def finish():
    print("\n".join(failures) or "every check passed")
    sys.exit(1 if failures else 0)


def start_server(*options):
    """instrument-sim --hislip under Wine: (process, port)."""
    sim = os.path.join(os.environ["MORVANE_BIN"], "instrument-sim.exe")
    process = subprocess.Popen([os.environ.get("WINE", "wine"), sim, "--hislip", "--port", "0", "--seconds", "300",
                                *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return process, int(process.stdout.readline())


class Channel:
    """One TCP connection, message by message."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)

    def send(self, kind, control=0, parameter=0, payload=b"", length=None):
        header = HEADER.pack(b"HS", kind, control, parameter, len(payload) if length is None else length)
        self.sock.sendall(header + payload)

    def exactly(self, count):
        data = bytearray()
        while len(data) < count:
            got = self.sock.recv(min(count - len(data), 1 << 20))
            if not got:
                raise ConnectionError("the server closed the connection")
            data += got
        return bytes(data)

    def recv(self):
        """(type, control, parameter, payload) of the next message."""
        prologue, kind, control, parameter, length = HEADER.unpack(self.exactly(16))
        assert prologue == b"HS", prologue
        return kind, control, parameter, self.exactly(length)

    def waiting(self, seconds):
        return bool(select.select([self.sock], [], [], seconds)[0])

    def closed(self, seconds=5):
        """Whether the server closed the connection within `seconds`, what it sent before dropped."""
        self.sock.settimeout(seconds)
        try:
            while self.sock.recv(65536):
                pass
            return True
        except (socket.timeout, ConnectionError):
            return False


class Session:
    """Both channels of one session, and the message IDs as a client keeps them."""

    def __init__(self, port, maximum=None):
        self.sync = Channel(port)
        self.sync.send(INITIALIZE, 0, 0x0100 << 16 | 0x5459, b"hislip0")
        self.initialized = self.sync.recv()
        kind, control, parameter, _ = self.initialized
        self.id, self.overlapped, self.next_id = parameter & 0xFFFF, control & 1, FIRST_ID
        self.async_ = Channel(port)
        self.async_.send(ASYNC_INITIALIZE, 0, self.id)
        self.async_initialized = self.async_.recv()
        if maximum is not None:
            self.maximum = self.call(ASYNC_MAXIMUM_MESSAGE_SIZE, payload=struct.pack(">Q", maximum))

    def call(self, kind, control=0, parameter=0, payload=b""):
        self.async_.send(kind, control, parameter, payload)
        return self.async_.recv()

    def send(self, data, kind=DATA_END, control=0):
        sent = self.next_id
        self.sync.send(kind, control, sent, data)
        self.next_id = (sent + 2) & 0xFFFFFFFF
        return sent

    def read(self):
        """A whole response: (bytes, its messages as (type, parameter, payload size))."""
        data, messages = bytearray(), []
        while not messages or messages[-1][0] != DATA_END:
            kind, _, parameter, payload = self.sync.recv()
            messages.append((kind, parameter, len(payload)))
            if kind not in (DATA, DATA_END):
                break
            data += payload
        return bytes(data), messages

    def query(self, text):
        sent = self.send(text.encode())
        data, messages = self.read()
        check(f"{text.strip()}: message IDs", {parameter for _, parameter, _ in messages}, {sent})
        return data.decode()

    def close(self):
        self.sync.sock.close()
        self.async_.sock.close()
