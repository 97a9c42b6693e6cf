"""A minimal HiSLIP client for the tests, written from the protocol's public numbers alone; the
checks and instrument-sim under Wine are the VXI-11 client's."""
import os
import socket
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vxi11"))
from vxi11_client import check, exactly, finish, proc, server

HEADER = struct.Struct(">2sBBIQ")
(INITIALIZE, INITIALIZE_RESPONSE, FATAL_ERROR, ERROR, ASYNC_LOCK, ASYNC_LOCK_RESPONSE, DATA, DATA_END,
 DEVICE_CLEAR_COMPLETE, DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_REMOTE_LOCAL_CONTROL, ASYNC_REMOTE_LOCAL_RESPONSE, TRIGGER,
 INTERRUPTED, ASYNC_INTERRUPTED, ASYNC_MAXIMUM_MESSAGE_SIZE, ASYNC_MAXIMUM_MESSAGE_SIZE_RESPONSE, ASYNC_INITIALIZE,
 ASYNC_INITIALIZE_RESPONSE, ASYNC_DEVICE_CLEAR, ASYNC_SERVICE_REQUEST, ASYNC_STATUS_QUERY, ASYNC_STATUS_RESPONSE,
 ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_LOCK_INFO, ASYNC_LOCK_INFO_RESPONSE) = range(26)
FIRST_ID = 0xFFFFFF00


class Channel:
    """One TCP connection, message by message."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)

    def send(self, kind, control=0, parameter=0, payload=b"", length=None):
        header = HEADER.pack(b"HS", kind, control, parameter, len(payload) if length is None else length)
        self.sock.sendall(header + payload)

    def recv(self):
        """(type, control, parameter, payload) of the next message."""
        prologue, kind, control, parameter, length = HEADER.unpack(exactly(self.sock, 16))
        assert prologue == b"HS", prologue
        return kind, control, parameter, bytes(exactly(self.sock, length))

    def closed(self, seconds=5):
        """Whether the server closed the connection within `seconds`, what it sent before dropped."""
        self.sock.settimeout(seconds)
        try:
            while self.sock.recv(65536):
                pass
            return True
        except (socket.timeout, ConnectionError):
            return False

    def refused(self, sent):
        """What the server answers `sent` with, an InitializeResponse passed over, and whether it
        closed the connection then."""
        self.sock.sendall(sent)
        while (reply := self.recv())[0] == INITIALIZE_RESPONSE:
            pass
        return reply[:2], self.closed()


class Session:
    """Both channels of one session, and the message IDs as a client keeps them."""

    def __init__(self, port, maximum=None):
        self.sync, self.async_ = Channel(port), Channel(port)
        self.sync.send(INITIALIZE, 0, 0x0100 << 16 | 0x5459, b"hislip0")
        self.initialized = self.sync.recv()
        self.id, self.overlapped, self.next_id = self.initialized[2] & 0xFFFF, self.initialized[1] & 1, FIRST_ID
        self.async_initialized = self.call(ASYNC_INITIALIZE, 0, self.id)
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
        while not messages or messages[-1][0] == DATA:
            kind, _, parameter, payload = self.sync.recv()
            messages.append((kind, parameter, len(payload)))
            data += payload
        return bytes(data), messages

    def query(self, text):
        sent = self.send(text.encode())
        data, messages = self.read()
        check(f"{text.strip()}: message IDs", {parameter for _, parameter, _ in messages}, {sent})
        return data.decode()
