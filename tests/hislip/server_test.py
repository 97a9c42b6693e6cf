#!/usr/bin/env python3
"""instrument-sim --hislip on a port it picked, driven by our own client: opening a session,
queries and their message IDs, Data/DataEND framing both ways with a 2 MiB block, the maximum
message size, device clear, status, trigger, interruption in synchronized mode, overlapped
mode, locks between clients, the fault options and what hostile peers send."""
import array
import struct
import threading
import time
from hislip_client import *

IDN = "Morvane,SIM-1,0,1.0\n"


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS"))


server, port = start_server("--max-connections", "12")
try:
    a = Session(port, maximum=50_000)
    check("InitializeResponse", (a.initialized[0], a.initialized[2] >> 16, a.id != 0, a.overlapped), (1, 0x0100, True, 0))
    check("AsyncInitializeResponse", a.async_initialized, (ASYNC_INITIALIZE_RESPONSE, 0, 0x4D56, b""))
    check("AsyncMaximumMessageSizeResponse", a.maximum, (16, 0, 0, struct.pack(">Q", 1 << 20)))
    check("*IDN?", a.query("*IDN?\n"), IDN)
    check("IDs advance", a.next_id, FIRST_ID + 2)
    # A message in pieces answers with the ID of the piece that ends it, whatever the ID is.
    for pieces, ids, expected in [
        ([(DATA, b"*ID"), (DATA_END, b"N?")], [5, 0xFFFFFFFE], [(DATA_END, 0xFFFFFFFE, 20)]),
        ([(DATA, b"*IDN?\n")], [0], [(DATA_END, 0, 20)]),
        ([(DATA_END, b"*IDN?\n*OPC?\n")], [7], [(DATA_END, 7, 20), (DATA_END, 7, 2)]),
        ([(DATA_END, b"TRAC:DATA #14\n\n\n\n;DATA?\n")], [9], [(DATA_END, 9, 8)]),  # line feeds in a block
    ]:
        for (kind, data), sent in zip(pieces, ids):
            a.sync.send(kind, 0, sent, data)
        check(f"pieces {pieces}", [a.read()[1][0] for _ in expected], expected)
    # 2 MiB up in messages of at most 1 MiB, back in messages the client takes (50000 bytes).
    block = array.array("f", (float(i % 100003) for i in range(1 << 19)))
    block.byteswap()
    upload = b"TRAC:DATA #72097152" + block.tobytes() + b"\n"
    for at in range(0, len(upload), 1 << 20):
        a.send(upload[at:at + (1 << 20)], DATA_END if at + (1 << 20) >= len(upload) else DATA)
    sent = a.send(b"TRAC:DATA?")
    data, messages = a.read()
    check("2 MiB read back", data == upload[10:-1] + b"\n", True)
    check("its framing", ({p for _, p, _ in messages}, [k for k, _, _ in messages[:-1]] == [DATA] * (len(messages) - 1),
                          max(size for _, _, size in messages) == 50_000 - 16), ({sent}, True, True))
    check("errors after the upload", a.query("SYST:ERR?\n"), '0,"No error"\n')
    # Larger than the server takes: Error 4, the payload skipped as it comes.
    a.sync.send(DATA_END, 0, 11, b"x" * ((1 << 20) + 1))
    check("a Data message over 1 MiB", a.sync.recv()[:2], (ERROR, 4))
    for kind in (99, 200):
        a.sync.send(kind, 0, 0, b"0123456789")
        check(f"type {kind} on sync", a.sync.recv()[:2], (ERROR, 1))
        check(f"type {kind} on async", a.call(kind, 0, 0, b"abc")[:2], (ERROR, 1))
    check("still answers", a.query("*IDN?\n"), IDN)
    for command, status in [("*CLS\n", 0), ("BOGUS\n", 4), ("*CLS\n", 0)]:
        a.send(command.encode())
        a.query("*OPC?\n")  # the command ran before the status is asked
        check(f"status after {command.strip()}", a.call(ASYNC_STATUS_QUERY, 1, a.next_id)[:2], (ASYNC_STATUS_RESPONSE, status))
    for _ in range(3):
        a.send(b"", TRIGGER)
    check("triggers", a.query("TRIG:COUN?\n"), "3\n")
    check("remote/local", a.call(ASYNC_REMOTE_LOCAL_CONTROL, 1)[0], ASYNC_REMOTE_LOCAL_RESPONSE)
    # Device clear in the middle of a long response: what came before the acknowledgement is dropped.
    a.send(b"MEAS:ARR? 100000\n")
    check("AsyncDeviceClear", a.call(ASYNC_DEVICE_CLEAR)[:2], (ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, 0))
    a.sync.send(DEVICE_CLEAR_COMPLETE, 1)
    while (reply := a.sync.recv())[0] in (DATA, DATA_END):
        pass
    check("DeviceClearAcknowledge: synchronized", reply[:2], (DEVICE_CLEAR_ACKNOWLEDGE, 0))
    a.next_id = FIRST_ID
    check("after the clear", a.query("*IDN?\n"), IDN)

    # Locks between two clients.
    b = Session(port)
    lock = lambda s, name=b"", timeout=0: s.call(ASYNC_LOCK, 1, timeout, name)[:2]
    check("exclusive", lock(a), (ASYNC_LOCK_RESPONSE, 1))
    check("again", lock(a), (ASYNC_LOCK_RESPONSE, 1))
    check("info", b.call(ASYNC_LOCK_INFO)[:3], (ASYNC_LOCK_INFO_RESPONSE, 1, 1))
    started = time.monotonic()
    check("exclusive taken: timed out", (lock(b, timeout=300), time.monotonic() - started >= 0.3), ((5, 0), True))
    check("shared while exclusive", lock(b, b"x"), (5, 0))
    sent = b.send(b"*IDN?\n")
    check("a locked-out query waits", b.sync.waiting(0.4), False)
    check("release exclusive", a.call(ASYNC_LOCK, 0, 0)[:2], (5, 1))
    check("then it is answered", b.read()[1], [(DATA_END, sent, 20)])
    check("release with none held", a.call(ASYNC_LOCK, 0)[:2], (5, 3))
    check("shared x, y beside it, x", (lock(b, b"x"), lock(a, b"y"), lock(a, b"x")), ((5, 1), (5, 0), (5, 1)))
    check("info shared", a.call(ASYNC_LOCK_INFO)[1:3], (0, 2))
    check("other name", lock(a, b"y"), (5, 3))
    check("exclusive while shared", lock(a), (5, 0))
    check("release shared", b.call(ASYNC_LOCK, 0)[:2], (5, 2))
    check("exclusive beside its own shared", lock(a), (5, 1))
    b.async_.send(ASYNC_LOCK, 1, 5000)
    time.sleep(0.2)
    started = time.monotonic()
    a.close()  # its locks go with it
    check("granted when the holder closes", (b.async_.recv()[:2], time.monotonic() - started < 2), ((5, 1), True))
    check("info after", b.call(ASYNC_LOCK_INFO)[1:3], (1, 1))
    b.close()

    # Hostile peers, each on connections of its own.
    for what, first, code in [
        ("bad prologue first", b"XS" + bytes(14), 1),
        ("Data first", HEADER.pack(b"HS", DATA_END, 0, FIRST_ID, 6) + b"*IDN?\n", 3),
        ("unknown session", HEADER.pack(b"HS", ASYNC_INITIALIZE, 0, 0xFFFF, 0), 3),
        ("version 0.9", HEADER.pack(b"HS", INITIALIZE, 0, 0x0009 << 16, 7) + b"hislip0", 3),
        ("Initialize with 1 MiB", HEADER.pack(b"HS", INITIALIZE, 0, 0x0100 << 16, 1 << 20), 1),
    ]:
        c = Channel(port)
        c.sock.sendall(first)
        check(what, (c.recv()[:2], c.closed()), ((FATAL_ERROR, code), True))
    c = Session(port)
    other = Channel(port)
    other.send(ASYNC_INITIALIZE, 0, c.id)
    check("second async channel", (other.recv()[:2], other.closed()), ((FATAL_ERROR, 3), True))
    c.async_.sock.sendall(HEADER.pack(b"HS", ASYNC_LOCK, 1, 0, 1 << 20))
    check("async payload too long", c.async_.recv()[:2], (FATAL_ERROR, 1))
    check("the session ends with it", (c.async_.closed(), c.sync.closed()), (True, True))
    s = Channel(port)
    s.send(INITIALIZE, 0, 0x0100 << 16, b"hislip0")
    s.recv()
    s.send(DATA_END, 0, FIRST_ID, b"*IDN?\n")
    check("Data before AsyncInitialize", (s.recv()[:2], s.closed()), ((FATAL_ERROR, 2), True))
    d = Session(port)
    d.sync.sock.sendall(b"HX" + bytes(14))
    check("bad prologue later", (d.sync.recv()[:2], d.sync.closed(), d.async_.closed()), ((FATAL_ERROR, 1), True, True))
    # A length of 2^63 is refused, and what follows is dropped as it comes: no memory grows.
    e = Session(port)
    e.sync.send(DATA, 0, FIRST_ID, length=1 << 63)
    check("2^63 bytes claimed", e.sync.recv()[:2], (ERROR, 4))
    before = rss_kib(server.pid)
    for _ in range(64):
        e.sync.sock.sendall(bytes(1 << 20))
    check("64 MiB of it cost no memory", rss_kib(server.pid) - before < 16 << 10, True)
    check("others still served", Session(port).query("*IDN?\n"), IDN)
finally:
    server.kill()
    server.wait()

# Synchronized, slow responses: a new message interrupts the one going out.
server, port = start_server("--segment", "1", "--delay", "300", "--idle-timeout", "1")
try:
    a = Session(port)
    started = time.monotonic()
    a.send(b"*IDN?\n")
    data, messages = a.read()
    check("--delay, --segment 1", (data.decode(), len(messages), time.monotonic() - started >= 0.3), (IDN, 20, True))
    first, second = a.send(b"*IDN?\n"), a.send(b"*IDN?\n")
    check("Interrupted", a.sync.recv(), (INTERRUPTED, 0, second, b""))
    check("AsyncInterrupted", a.async_.recv(), (ASYNC_INTERRUPTED, 0, second, b""))
    data, messages = a.read()
    check("the new response whole", (data.decode(), {p for _, p, _ in messages}), (IDN, {second}))
    idle = Channel(port)
    idle.send(INITIALIZE, 0, 0x0100 << 16, b"hislip0")
    idle.recv()
    started = time.monotonic()
    check("only the sync channel, idle: closed", (idle.closed(5), time.monotonic() - started < 3), (True, True))
finally:
    server.kill()
    server.wait()

# Overlapped: no interruption, responses in order; two sessions at most; --drop-after.
server, port = start_server("--overlapped", "--segment", "1", "--delay", "100", "--max-connections", "4",
                            "--drop-after", "45")
try:
    a = Session(port)
    check("prefers overlapped", a.overlapped, 1)
    first, second = a.send(b"*IDN?\n"), a.send(b"*IDN?\n")
    answers = [a.read() for _ in range(2)]
    check("both answered in order", [(data.decode(), {p for _, p, _ in messages}) for data, messages in answers],
          [(IDN, {first}), (IDN, {second})])
    for asked, in_force in [(0, 0), (1, 1)]:
        check(f"AsyncDeviceClear ({asked})", a.call(ASYNC_DEVICE_CLEAR)[:2], (ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, 1))
        a.sync.send(DEVICE_CLEAR_COMPLETE, asked)
        check(f"features asked {asked}", a.sync.recv()[:2], (DEVICE_CLEAR_ACKNOWLEDGE, in_force))
    b = Channel(port)
    b.send(INITIALIZE, 0, 0x0100 << 16, b"hislip0")
    check("second session", b.recv()[0], INITIALIZE_RESPONSE)
    c = Channel(port)
    c.send(INITIALIZE, 0, 0x0100 << 16, b"hislip0")
    check("third session refused", (c.recv()[:2], c.closed()), ((FATAL_ERROR, 4), True))
    a.send(b"*IDN?\n")
    pieces = b"".join(a.sync.recv()[3] for _ in range(5))
    check("--drop-after 45: 5 bytes of the third response, then closed", (pieces, a.sync.closed()), (b"Morva", True))
finally:
    server.kill()
    server.wait()
finish()
