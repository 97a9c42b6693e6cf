#!/usr/bin/env python3
"""instrument-sim --hislip driven by our own minimal client where the resource manager's sessions do not
go: IDs of the client's choosing, framing, interruption, lock replies, the fault options, hostile peers."""
import os
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vxi11"))
from vxi11_client import IDN, check, closed, exactly, finish, proc, server

HEADER = struct.Struct(">2sBBIQ")
(INITIALIZE, INITIALIZE_RESPONSE, FATAL_ERROR, ERROR, ASYNC_LOCK, ASYNC_LOCK_RESPONSE, DATA, DATA_END,
 DEVICE_CLEAR_COMPLETE, DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_REMOTE_LOCAL_CONTROL, ASYNC_REMOTE_LOCAL_RESPONSE, TRIGGER,
 INTERRUPTED, ASYNC_INTERRUPTED, ASYNC_MAXIMUM_MESSAGE_SIZE, ASYNC_MAXIMUM_MESSAGE_SIZE_RESPONSE, ASYNC_INITIALIZE,
 ASYNC_INITIALIZE_RESPONSE, ASYNC_DEVICE_CLEAR, ASYNC_SERVICE_REQUEST, ASYNC_STATUS_QUERY, ASYNC_STATUS_RESPONSE,
 ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_LOCK_INFO, ASYNC_LOCK_INFO_RESPONSE) = range(26)
FIRST_ID = 0xFFFFFF00
INITIALIZE_1_0 = HEADER.pack(b"HS", INITIALIZE, 0, 0x0100 << 16, 7) + b"hislip0"


class Channel:
    def __init__(self, port, first=b""):  # `first`: bytes sent at once
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.sock.sendall(first)

    def send(self, kind, control=0, parameter=0, payload=b"", length=None):
        self.sock.sendall(HEADER.pack(b"HS", kind, control, parameter, len(payload) if length is None else length) + payload)

    def recv(self):
        prologue, kind, control, parameter, length = HEADER.unpack(exactly(self.sock, 16))
        assert prologue == b"HS", prologue
        return kind, control, parameter, bytes(exactly(self.sock, length))

    def refused(self, sent):  # the answer past any InitializeResponse, and whether the connection closed then
        self.sock.sendall(sent)
        while (reply := self.recv())[0] == INITIALIZE_RESPONSE:
            pass
        return reply[:2], closed(self.sock)


class Session:  # both channels of one session, and the message IDs as a client keeps them
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

    def send(self, data):
        sent, self.next_id = self.next_id, (self.next_id + 2) & 0xFFFFFFFF
        self.sync.send(DATA_END, 0, sent, data)
        return sent

    def read(self):  # a whole response: (bytes, its messages as (type, parameter, payload size))
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


with server("--hislip", "--max-connections", "12") as (sim, (port,)):
    a = Session(port, maximum=50_000)
    check("initialized", (a.initialized[:2], a.initialized[2] >> 16, a.id != 0, a.async_initialized, a.maximum),
          ((1, 0), 0x0100, True, (ASYNC_INITIALIZE_RESPONSE, 0, 0x4D56, b""), (16, 0, 0, struct.pack(">Q", 1 << 20))))
    # The response carries the ID of the piece that ends the message, whatever it is.
    for pieces, ids, expected in [
        ([(DATA, b"*ID"), (DATA_END, b"N?")], [5, 0xFFFFFFFE], [(DATA_END, 0xFFFFFFFE, 20)]),
        ([(DATA, b"*IDN?\n")], [0], [(DATA_END, 0, 20)]),
        ([(DATA_END, b"*IDN?\n*OPC?\n")], [7], [(DATA_END, 7, 20), (DATA_END, 7, 2)]),
        ([(DATA_END, b"TRAC:DATA #14\n\n\n\n;DATA?\n")], [9], [(DATA_END, 9, 8)]),  # line feeds in a block
    ]:
        for (kind, data), sent in zip(pieces, ids):
            a.sync.send(kind, 0, sent, data)
        check(f"pieces {pieces}", [a.read()[1][0] for _ in expected], expected)
    sent = a.send(b"MEAS:ARR? 20000\n")
    data, messages = a.read()
    kinds, ids, sizes = zip(*messages)
    check("in the client's size", (set(ids), kinds[:-1] == (DATA,) * (len(kinds) - 1), max(sizes), data.count(b",")),
          ({sent}, True, 50_000 - 16, 19999))
    for channel, kind, payload, expected in [
        (a.sync, DATA_END, b"x" * ((1 << 20) + 1), (ERROR, 4)),  # its payload skipped as it comes
        (a.sync, 99, b"0123456789", (ERROR, 1)),
        (a.async_, 200, b"abc", (ERROR, 1)),
        (a.async_, ASYNC_REMOTE_LOCAL_CONTROL, b"", (ASYNC_REMOTE_LOCAL_RESPONSE, 0)),
    ]:
        channel.send(kind, 0, 11, payload)
        check(f"type {kind}, {len(payload)} bytes", channel.recv()[:2], expected)
    a.send(b"MEAS:ARR? 100000\n")  # a clear drops what came before its acknowledgement
    check("AsyncDeviceClear", a.call(ASYNC_DEVICE_CLEAR)[:2], (ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, 0))
    a.sync.send(DEVICE_CLEAR_COMPLETE, 1)
    while (reply := a.sync.recv())[0] in (DATA, DATA_END):
        pass
    check("DeviceClearAcknowledge: synchronized", reply[:2], (DEVICE_CLEAR_ACKNOWLEDGE, 0))
    a.next_id = FIRST_ID
    check("after the clear", a.query("*IDN?\n"), IDN)

    # A held *OPC? answer goes once ready, or at a new message (requests for service: ServiceRequests.*).
    d = Session(port)
    for then, expected in [([], "1\n"), ([b"*IDN?\n"], IDN)]:
        started = time.monotonic()
        for data in [b"ACQ:TIME 300;INIT;*OPC?\n", *then]:
            d.send(data)
        check(f"held *OPC?, then {then}", (d.read()[0].decode(), time.monotonic() - started >= 0.25), (expected, not then))

    # What IMorvaneLocking does not show: a lock asked again, the lock info, which kind a release released.
    b = Session(port)
    lock = lambda s, control, name=b"": s.call(ASYNC_LOCK, control, 0, name)[:2]
    info = lambda s: s.call(ASYNC_LOCK_INFO)[:3]
    check("exclusive, again, info, released", (lock(a, 1), lock(a, 1), info(b), lock(a, 0)),
          ((ASYNC_LOCK_RESPONSE, 1), (ASYNC_LOCK_RESPONSE, 1), (ASYNC_LOCK_INFO_RESPONSE, 1, 1), (ASYNC_LOCK_RESPONSE, 1)))
    check("shared x twice, info, released", (lock(b, 1, b"x"), lock(a, 1, b"x"), info(a), lock(b, 0)),
          ((ASYNC_LOCK_RESPONSE, 1), (ASYNC_LOCK_RESPONSE, 1), (ASYNC_LOCK_INFO_RESPONSE, 0, 2), (ASYNC_LOCK_RESPONSE, 2)))

    c = Session(port)  # hostile peers, each on connections of its own
    for what, sent, code in [
        ("bad prologue first", b"XS" + bytes(14), 1),
        ("Data first", HEADER.pack(b"HS", DATA_END, 0, FIRST_ID, 6) + b"*IDN?\n", 3),
        ("unknown session", HEADER.pack(b"HS", ASYNC_INITIALIZE, 0, 0xFFFF, 0), 3),
        ("second async channel", HEADER.pack(b"HS", ASYNC_INITIALIZE, 0, c.id, 0), 3),
        ("version 0.9", HEADER.pack(b"HS", INITIALIZE, 0, 0x0009 << 16, 7) + b"hislip0", 3),
        ("Initialize with 1 MiB", HEADER.pack(b"HS", INITIALIZE, 0, 0x0100 << 16, 1 << 20), 1),
        ("Data before AsyncInitialize", INITIALIZE_1_0 + HEADER.pack(b"HS", DATA_END, 0, FIRST_ID, 6) + b"*IDN?\n", 2),
    ]:
        check(what, Channel(port).refused(sent), ((FATAL_ERROR, code), True))
    for what, channel, sent in [("AsyncLock with 1 MiB", "async_", HEADER.pack(b"HS", ASYNC_LOCK, 1, 0, 1 << 20)),
                                ("bad prologue later", "sync", b"HX" + bytes(14))]:  # both channels end
        check(what, (getattr(c, channel).refused(sent), closed(c.sync.sock), closed(c.async_.sock)),
              (((FATAL_ERROR, 1), True), True, True))
        c = Session(port)
    c.sync.send(DATA, 0, FIRST_ID, length=1 << 63)
    check("2^63 bytes claimed", c.sync.recv()[:2], (ERROR, 4))
    before = proc(sim, "VmRSS")
    for _ in range(64):
        c.sync.sock.sendall(bytes(1 << 20))
    check("64 MiB of it cost no memory", proc(sim, "VmRSS") - before < 16 << 10, True)
    check("others still served", Session(port).query("*IDN?\n"), IDN)

with server("--hislip", "--segment", "1", "--delay", "300", "--idle-timeout", "1") as (_, (port,)):
    a = Session(port)  # (--delay: Sessions.ACallWaitsForTheCallInProgress; --segment: --drop-after below)
    first, second = a.send(b"*IDN?\n"), a.send(b"*IDN?\n")  # synchronized: the new message interrupts

    check("Interrupted", a.sync.recv(), (INTERRUPTED, 0, second, b""))
    check("AsyncInterrupted", a.async_.recv(), (ASYNC_INTERRUPTED, 0, second, b""))
    data, messages = a.read()
    check("the new response whole", (data.decode(), {p for _, p, _ in messages}), (IDN, {second}))
    idle, started = Channel(port, INITIALIZE_1_0), time.monotonic()
    check("only the sync channel, idle: closed", (idle.recv()[0], closed(idle.sock), time.monotonic() - started < 3),
          (INITIALIZE_RESPONSE, True, True))

with server("--hislip", "--overlapped", "--segment", "1", "--delay", "100", "--max-connections", "4",
            "--drop-after", "45") as (_, (port,)):
    a = Session(port)
    first, second = a.send(b"*IDN?\n"), a.send(b"*IDN?\n")
    answers = [(data.decode(), {p for _, p, _ in messages}) for data, messages in (a.read(), a.read())]
    check("overlapped: both answered in order", (a.overlapped, answers), (1, [(IDN, {first}), (IDN, {second})]))
    for asked, in_force in [(0, 0), (1, 1)]:
        check(f"AsyncDeviceClear ({asked})", a.call(ASYNC_DEVICE_CLEAR)[:2], (ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, 1))
        a.sync.send(DEVICE_CLEAR_COMPLETE, asked)
        check(f"features asked {asked}", a.sync.recv()[:2], (DEVICE_CLEAR_ACKNOWLEDGE, in_force))
    b = Channel(port, INITIALIZE_1_0)  # a sync channel only: two connections left of four
    check("second session", b.recv()[0], INITIALIZE_RESPONSE)
    check("third session refused", Channel(port).refused(INITIALIZE_1_0), ((FATAL_ERROR, 4), True))
    a.send(b"*IDN?\n")
    pieces = b"".join(a.sync.recv()[3] for _ in range(5))
    check("--drop-after 45: 5 bytes of the third response, then closed", (pieces, closed(a.sync.sock)), (b"Morva", True))
finish()
