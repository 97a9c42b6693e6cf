#!/usr/bin/env python3
"""instrument-sim --vxi11 calling a client's interrupt channel: the procedures' error codes, device_intr_srq
with the handle on one connection only while enabled, deaf or gone clients costing nothing, a held *OPC?."""
import select
import socket
import struct
import time
import timeit
from vxi11_client import Link, check, finish, opaque, server, take_opaque, take_record

INTR = 0x0607B1


def intr_chan(link, port, family=0):
    return link.error_of(25, struct.pack(">IIIII", 0x7F000001, port, INTR, 1, family))


def enable(link, on, handle=b"", lid=None):
    return link.error_of(20, struct.pack(">ii", link.lid if lid is None else lid, on) + opaque(handle))


def srq_call(client):
    record = take_record(client)
    # kind, RPC version, program, version, procedure; the handle after empty credentials and verifier
    return struct.unpack_from(">IIIII", record, 4) + (take_opaque(record, 40),)


with server("--vxi11", "--portmapper-port", "0") as (_, (core_port, _)):
    link = Link(core_port)
    with socket.create_server(("127.0.0.1", 0)) as listener:
        listener.settimeout(3)
        port = listener.getsockname()[1]
        check("create_intr_chan over UDP", intr_chan(link, port, family=1), 8)
        check("destroy_intr_chan with none", link.error_of(26, b""), 6)
        check("create_intr_chan", intr_chan(link, port), 0)
        check("create_intr_chan again", intr_chan(link, port), 29)
        check("device_enable_srq of no link", enable(link, 1, b"h", lid=link.lid + 1000), 4)
        check("a handle past 40 bytes", link.rpc.call(0x0607AF, 1, 20, struct.pack(">ii", link.lid, 1) + opaque(b"x" * 41))[0], 4)
        check("device_enable_srq", enable(link, 1, b"handle-7"), 0)
        link.write(b"*ESE 1;*SRE 32;*OPC\n")
        client, _ = listener.accept()
        client.settimeout(3)
        check("device_intr_srq", srq_call(client), (0, 2, INTR, 1, 30, b"handle-7"))
        check("*ESR?", link.query(b"*ESR?\n"), "1\n")
        link.write(b"*OPC\n")
        check("the next on the same connection", srq_call(client), (0, 2, INTR, 1, 30, b"handle-7"))
        check("disabled", enable(link, 0), 0)
        link.query(b"*ESR?;*OPC;*ESR?\n")
        check("no call while disabled", select.select([client], [], [], 0.5)[0], [])
        check("destroy_intr_chan", link.error_of(26, b""), 0)
        check("its connection closed", client.recv(1), b"")

    # Clients that are gone or never read: the core channel answers as fast as ever.
    with socket.create_server(("127.0.0.1", 0)) as deaf:
        for what, port in (("a client that never reads", deaf.getsockname()[1]), ("a client that is gone", port)):
            check(f"create_intr_chan, {what}", (intr_chan(link, port), enable(link, 1, b"z" * 40)), (0, 0))
            queries = timeit.repeat(lambda: link.query(b"*OPC;*ESR?\n"), number=1, repeat=300)
            check(f"the slowest query, {what}", max(queries) < 0.5, True)
            check(f"destroy_intr_chan, {what}", link.error_of(26, b""), 0)

    # A held *OPC? answer: the read gets it as the acquisition ends, not at its io_timeout.
    link.write(b"ACQ:TIME 300;INIT;*OPC?\n")
    started = time.monotonic()
    check("held *OPC?", link.read(timeout=5000), (0, 4, b"1\n"))
    check("read as it came", 0.25 < time.monotonic() - started < 2, True)

finish()
