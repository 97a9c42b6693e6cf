#!/usr/bin/env python3
"""instrument-sim --vxi11 call by call: the portmapper over UDP and TCP, END framing, links, reason bits,
io_timeout, locks and error codes, replies in fragments of 7 bytes (the sessions' tests clear, trigger and poll)."""
import struct
import time
from vxi11_client import CORE, PORTMAPPER, Link, Rpc, call_message, check, finish, opaque, server, take_record

with server("--vxi11", "--portmapper-port", "0", "--segment", "7") as (_, (core_port, mapper_port)):
    for udp in (False, True):
        mapper = Rpc(mapper_port, udp)
        getport = lambda *args: mapper.call(PORTMAPPER, 2, 3, struct.pack(">IIII", *args, 0))
        for what, reply, expected in [
            ("GETPORT core TCP", getport(CORE, 1, 6), (0, struct.pack(">I", core_port))),
            ("GETPORT core UDP, core version 2, another program", [getport(CORE, 1, 17), getport(CORE, 2, 6),
                                                                  getport(100003, 1, 6)], [(0, b"\0\0\0\0")] * 3),
            ("NULL", mapper.call(PORTMAPPER, 2, 0), (0, b"")),
            ("version 4", mapper.call(PORTMAPPER, 4, 3), (2, struct.pack(">II", 2, 2))),
            ("DUMP", mapper.call(PORTMAPPER, 2, 4), (3, b"")),
            ("other program", mapper.call(CORE, 1, 10), (1, b"")),
        ]:
            check(f"portmapper {'UDP' if udp else 'TCP'} {what}", reply, expected)

    link = Link(core_port)
    check("create_link", (link.error, link.max_receive), (0, 1 << 20))
    # A message runs only when END comes: a read before it times out (error 15).
    check("write without END", link.write(b"*ID", end=False), (0, 3))
    started = time.monotonic()
    check("read before END", link.read(timeout=300), (15, 0, b""))
    check("io_timeout honoured", 0.25 < time.monotonic() - started < 1.5, True)
    check("no line feed, no END", link.write(b"N?", end=False), (0, 2))
    check("no bytes, with END", link.write(b""), (0, 0))
    check("read", link.read(), (0, 4, b"Morvane,SIM-1,0,1.0\n"))
    check("error queue", link.query(b"SYST:ERR?\n"), '-420,"Query UNTERMINATED"\n')
    # Calls sent while a read waits for a response are kept, and answered after it in order.
    wait = struct.pack(">iIIIiI", link.lid, 100, 300, 0, 0, 0)
    for xid, procedure, args in [(100, 12, wait), (101, 11, struct.pack(">iIIi", link.lid, 1000, 0, 8) + opaque(b"*IDN?\n")), (102, 12, wait)]:
        link.rpc.send(call_message(xid, CORE, 1, procedure, args))
        time.sleep(0.05)
    replies = [take_record(link.rpc.sock) for _ in range(3)]
    check("calls behind a waiting read", [(r[:4], r[24:28]) for r in replies] + [replies[2][-20:]],
          [(bytes([0, 0, 0, xid]), bytes([0, 0, 0, error])) for xid, error in [(100, 15), (101, 0), (102, 0)]] + [b"Morvane,SIM-1,0,1.0\n"])
    # Reason bits: the request size, the termination character, END.
    link.write(b"DATA:LIST 1.5,22,333;LIST?\n")
    check("read to the request size", link.read(size=2), (0, 1, b"1."))
    check("read to the term char", link.read(term=ord(",")), (0, 2, b"5,"))
    check("read to END", link.read(term=ord("\n")), (0, 4, b"22,333\n"))
    check("device_trigger", link.generic(14), b"\0\0\0\0")  # counted on this link's instrument only (below)
    # One lock for the links of every connection. Another link's calls wait for it up to their
    # lock_timeout (300 ms) with flag 0x01, else fail with error 11 at once.
    lock = lambda holder, flags=0, wait=0: holder.error_of(18, struct.pack(">iiI", holder.lid, flags, wait))
    unlock = lambda holder: holder.error_of(19, struct.pack(">i", holder.lid))
    rival = Link(core_port)
    lock(link)
    calls = {  # the arguments of each procedure with these flags
        18: lambda flags: struct.pack(">iiI", rival.lid, flags, 300),
        11: lambda flags: struct.pack(">iIIi", rival.lid, 1000, 300, flags | 8) + opaque(b"*IDN?\n"),
        12: lambda flags: struct.pack(">iIIIiI", rival.lid, 100, 1000, 300, flags, 0),
        **{generic: lambda flags: struct.pack(">iiII", rival.lid, flags, 300, 1000) for generic in (13, 14, 15)},
        10: lambda flags: struct.pack(">iiI", 7, 1, 300 * flags) + opaque(b"inst0"),  # create_link asking the lock
    }
    for flags in (0, 1):
        for procedure, arguments in calls.items():
            started = time.monotonic()
            error = rival.error_of(procedure, arguments(flags))
            took = time.monotonic() - started
            check(f"procedure {procedure} locked out, flags {flags}", (error, took > 0.28, took < 1), (11, flags == 1, True))
    check("device_unlock of another's lock, then its own", (unlock(rival), unlock(link)), (12, 0))
    # A link's end releases its lock: destroy_link, or its connection closed (seen as the lock is waited for).
    for what, end in [("destroy_link", lambda: rival.ok(23, struct.pack(">i", rival.lid))),
                      ("its connection closed", lambda: rival.rpc.sock.close())]:
        rival = Link(core_port)
        lock(rival)
        end()
        check(f"released by {what}", (lock(link, 1, 5000), unlock(link)), (0, 0))
    check("device_remote", link.generic(16), struct.pack(">i", 8))
    check("unknown procedure", link.rpc.call(CORE, 1, 99), (3, b""))
    check("core version 2", link.rpc.call(CORE, 2, 10), (2, struct.pack(">II", 1, 1)))
    check("arguments cut short", link.rpc.call(CORE, 1, 11, struct.pack(">i", link.lid)), (4, b""))
    other = Link(core_port, b"gpib0,5")
    check("links apart", (other.error, other.lid != link.lid, other.query(b"TRIG:COUN?\n")), (0, True, "0\n"))
    created = [struct.unpack_from(">i", other.create())[0] for _ in range(16)]
    check("sixteen links a connection, then error 9", created, [0] * 15 + [9])
    check("destroy_link", link.ok(23, struct.pack(">i", link.lid)), b"\0\0\0\0")
    check("write on a destroyed link", link.write(b"*IDN?\n"), (4, 0))
    # A record that claims more than a write may hold closes the connection before any of it comes.
    link.rpc.sock.sendall(struct.pack(">I", 0x80000000 | (33 << 20)))
    check("a record past the limit", link.rpc.sock.recv(1), b"")

# Without --segment a response larger than the server reads at once goes out as it is read:
# the request size first, then END with the rest.
with server("--vxi11", "--portmapper-port", "0") as (_, (core_port, _)):
    link = Link(core_port)
    link.write(b"MEAS:ARR? 20000\n")
    first, rest = link.read(size=100000), link.read(size=1 << 20)
    check("large read to the request size", (first[:2], len(first[2])), ((0, 1), 100000))
    check("large read to END", (rest[:2], len(rest[2]), rest[2][-1:]), ((0, 4), 220000, b"\n"))

finish()
