#!/usr/bin/env python3
"""What faulty peers send to instrument-sim's raw and VXI-11 servers, seeded, then each bound once, a
normal client, memory and threads (docs/testing.md). A failing trial prints seed, number and input.
    campaign_test.py [--seed N] [--trials N | --seconds S] [--trial K]   (or MORVANE_CAMPAIGN_*)"""
import argparse
import os
import random
import struct
import threading
import time
from vxi11_client import CORE, IDN, PORTMAPPER, Link, call_message, check, closed, connect, exactly, failures, finish, opaque, proc, server, take_record

MAX_CONNECTIONS, IDLE_S, MEMORY_MIB = 8, 2, 96  # small limits keep the bounds quick to reach
RSS_SLACK_MIB = 64  # VmRSS may pass its start by the memory limit and this (Wine's heaps, replies in flight)
parser = argparse.ArgumentParser()
for name, otherwise in (("seed", int(time.time()) % 1000000), ("trials", 0), ("seconds", 2.0)):
    parser.add_argument("--" + name, type=type(otherwise), default=os.environ.get("MORVANE_CAMPAIGN_" + name.upper(), otherwise))
parser.add_argument("--trial", type=int)
args = parser.parse_args()
SCPI = [b"*IDN?\n", b"SYST:ERR?\n", b"MEAS:ARR? 5000\n", b"DATA:LIST 1,2;LIST?\n", b"WAV:DATA?\n",
        b"TRAC:DATA #15abcde\n", b"TRAC:DATA #9999999999", b"*RST;*OPC?\n", b"MEAS:VOLT?", b""]
INTERESTING = [0, 1, 3, 4, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFC, 1 << 20, 33 << 20]

limits = ["--max-connections", str(MAX_CONNECTIONS), "--idle-timeout", str(IDLE_S), "--memory-limit", str(MEMORY_MIB)]
sent, peaks, stop = [], [0, 0], threading.Event()


def sample():
    """The highest VmRSS (KiB) of each server, every 20 ms."""
    while not stop.wait(0.02):
        peaks[:] = [max(peak, proc(process, "VmRSS")) for peak, process in zip(peaks, servers)]


def send(sock, data, slow=False):
    sent.append(data)
    if slow:  # the first bytes one at a time, the way a slow link delivers them
        for i in range(min(len(data), 48)):
            sock.send(data[i:i + 1])
            time.sleep(0.001)
        data = data[48:]
    sock.sendall(data)


def mutate(rng, message):
    """The message with words overwritten by lengths that lie, cut short or with garbage after it."""
    message = bytearray(message)
    for _ in range(rng.choice([0, 0, 0, 1, 2, 3])):
        at = rng.randrange(0, max(1, len(message) - 3), 4)
        claims = INTERESTING + [rng.getrandbits(32), len(message) + rng.randint(-8, 8) & 0xFFFFFFFF]
        message[at:at + 4] = struct.pack(">I", rng.choice(claims))
    if rng.random() < 0.1:
        message = message[:rng.randrange(len(message) + 1)]
    if rng.random() < 0.1:
        message += rng.randbytes(rng.randint(1, 64))
    return bytes(message)


def frame(rng, message):
    """Record marking as peers get it right and wrong: (bytes, whether the record stays whole)."""
    mark, mode = lambda size, last=True: struct.pack(">I", size | last << 31), rng.randrange(10)
    if mode < 5:
        return mark(len(message)) + message, True
    if mode < 7:  # in pieces, empty ones among them, or a byte a fragment
        cuts = sorted(rng.randint(0, len(message)) for _ in range(rng.randint(1, 8))) if mode == 5 else range(len(message))
        edges = [0, *cuts, len(message)]
        return b"".join(mark(b - a, i == len(edges) - 2) + message[a:b] for i, (a, b) in enumerate(zip(edges, edges[1:]))), True
    if mode < 9:  # no last fragment, or a mark that claims up to 2 GiB, or less than comes
        size = rng.choice([len(message), 33 << 20, 0x7FFFFFFF, rng.randint(len(message) + 1, 1 << 25), rng.randint(0, len(message))])
        return mark(size, size != len(message) and rng.random() < 0.5) + message, False
    return rng.randbytes(rng.randint(1, 200)), False


def core_call(rng, lid):
    """A call of a random core procedure, mostly on the trial's link."""
    link = lid if rng.random() < 0.8 else rng.choice([0, -1, lid + 1, rng.getrandbits(31)])
    generic = struct.pack(">iiII", link, 0, 0, 100)
    procedure, body = rng.choice([
        (10, struct.pack(">iiI", 7, 0, 0) + opaque(rng.choice([b"inst0", b"gpib0,5", b"", b"x" * 300]))),
        (11, struct.pack(">iIIi", link, 100, 0, rng.choice([0, 8, 8])) + opaque(rng.choice(SCPI))),
        (12, struct.pack(">iIIIiI", link, rng.choice([1, 100, 1 << 20]), rng.randint(0, 150), 0, rng.choice([0, 0x80]), 10)),
        (13, generic), (14, generic), (15, generic), (16, generic), (17, generic), (18, struct.pack(">iiI", link, 0, 0)),
        (19, struct.pack(">i", link)), (20, struct.pack(">ii", link, 1) + opaque(b"h")), (23, struct.pack(">i", link)),
        (22, struct.pack(">iiIIii", link, 0, 0, 0, 1, 1) + opaque(b"x")), (rng.randint(0, 40), rng.randbytes(rng.randint(0, 40)))])
    program, version = (CORE, 1) if rng.random() < 0.9 else rng.choice([(CORE, 2), (PORTMAPPER, 2), (rng.getrandbits(32), 1)])
    header = {} if rng.random() < 0.85 else rng.choice([
        {"rpc_version": rng.choice([0, 1, 3])}, {"kind": 1}, {"credentials": rng.randbytes(rng.randint(1, 500))},
        {"verifier": rng.randbytes(rng.randint(1, 500))}])
    return call_message(rng.getrandbits(32), program, version, procedure, body, **header)


def mapper_call(rng):
    body = rng.choice([b"", struct.pack(">IIII", CORE, 1, rng.choice([6, 17]), 0), rng.randbytes(rng.randint(0, 40))])
    return call_message(rng.getrandbits(32), PORTMAPPER if rng.random() < 0.9 else rng.getrandbits(32),
                        rng.choice([2, 2, 2, 3, 4]), rng.randint(0, 6), body, kind=0 if rng.random() < 0.95 else 1)


def scpi(rng):
    message = rng.choice(SCPI)
    if rng.random() < 0.3:
        message = bytes(b if rng.random() > 0.1 else rng.getrandbits(8) for b in message)
    if rng.random() < 0.05:
        message = rng.choice([b"x", b"#9999999", b"*IDN?"]) * rng.randint(1, 200000)  # no line feed
    return message


def trial(rng):
    """Calls on a new link, to the portmapper over TCP or UDP, or SCPI; every reply must answer a call."""
    kind, udp = rng.choice("cccccmmrr"), rng.random() < 0.5
    link = Link(core_port) if kind == "c" else None
    sock = link.rpc.sock if link else connect(mapper_port if kind == "m" else raw_port, udp and kind == "m", 1.0)
    messages = ([mutate(rng, core_call(rng, link.lid)) for _ in range(rng.randint(1, 6))] if link else
                [mutate(rng, mapper_call(rng))] if kind == "m" else [scpi(rng) for _ in range(rng.randint(1, 5))])
    framed = [frame(rng, m) if kind == "c" or kind == "m" and not udp else (m, False) for m in messages]
    for stream, _ in framed:
        send(sock, stream, slow=rng.random() < 0.05)
    sock.settimeout(0.15)
    for reply in (take_record(sock) for _ in messages if all(kept for _, kept in framed)):  # a timeout ends it: some calls have no reply
        assert reply[:4] in [m[:4] for m in messages] and reply[4:8] == b"\0\0\0\1", f"a reply that answers no call: {reply[:32].hex()}"
    time.sleep(0.05)  # a moment for the last answers, left unread, then a close
    sock.close()


def healthy():
    link = Link(core_port)
    assert link.query(b"*IDN?\n") == IDN
    link.rpc.sock.close()
    assert raw_query(b"*IDN?\n", len(IDN)) == IDN.encode()


def raw_query(command, most):
    with connect(raw_port, timeout=20) as sock:
        sock.sendall(command)
        return exactly(sock, most)


def bounds():
    """Each documented bound, once (the links a connection may hold are server_test's)."""
    # The cap: connections past it are closed at once; the others, idle, after the idle timeout.
    socks = [connect(raw_port, timeout=1.0) for _ in range(MAX_CONNECTIONS + 4)]
    time.sleep(0.5)
    check("connections past the cap closed at once", [closed(s, 0.5) for s in socks[MAX_CONNECTIONS:]], [True] * 4)
    until = time.monotonic() + IDLE_S + 2
    check("idle connections closed", [closed(s, until - time.monotonic()) for s in socks[:MAX_CONNECTIONS]], [True] * MAX_CONNECTIONS)
    before, marks = proc(vxi_server, "VmRSS"), [connect(core_port, timeout=1.0) for _ in range(4)]
    for sock in marks:
        sock.sendall(struct.pack(">I", 0x80000000 | (32 << 20)) + b"12345678")
    time.sleep(0.5)
    check("memory held for marks that claim 32 MiB below 16 MiB", proc(vxi_server, "VmRSS") - before < 16 << 10, True)
    # Queries left unread on many links, and a read that waits for ever with a call sent behind
    # it: closed without a word.
    unread, waiting = Link(core_port), Link(core_port)
    for lid in [unread.lid] + [struct.unpack_from(">i", unread.create(), 4)[0] for _ in range(11)]:
        unread.write(b"WAV:FORM REAL,64;POIN 2000000;DATA?\n", lid=lid)
    forever = struct.pack(">iIIIiI", waiting.lid, 1, 0xFFFFFFFF, 0, 0, 0)
    for _ in range(2):  # the second while the first waits
        waiting.rpc.send(call_message(9, CORE, 1, 12, forever))
        time.sleep(0.1)
    [sock.close() for sock in socks + marks + [unread.rpc.sock, waiting.rpc.sock]]
    # Endless messages: past 24 MiB they are dropped as they come, with -223 ("Too much data").
    check("raw message past 24 MiB", raw_query(b"DATA:LIST " + b"1," * (25 << 19) + b"1\nSYST:ERR?\n", 5)[:5], b"-223,")
    endless = Link(core_port)
    for data in [b"DATA:LIST 1"] + [b",1" * (1 << 19)] * 25:
        endless.write(data, end=False)
    endless.write(b"\n")
    check("device_write without END past 24 MiB", endless.query(b"SYST:ERR?\n")[:5], "-223,")
    endless.rpc.sock.close()


with server(*limits) as (raw_server, (raw_port,)), \
        server("--vxi11", "--portmapper-port", "0", *limits) as (vxi_server, (core_port, mapper_port)):
    servers = [raw_server, vxi_server]
    threading.Thread(target=sample, daemon=True).start()
    healthy()
    time.sleep(0.3)
    start_rss, baseline = [proc(p, "VmRSS") for p in servers], [proc(p, "Threads") for p in servers]
    trials, inputs, until = 0, 0, time.monotonic() + (1e9 if args.trials or args.trial is not None else args.seconds)
    for index in [args.trial] if args.trial is not None else range(args.trials or 1 << 30):
        if time.monotonic() > until:
            break
        rng, sent = random.Random(args.seed * 1000003 + index), []
        try:
            try:
                trial(rng)
            except (OSError, IndexError):
                pass  # refused, reset or timed out: a peer's right after what it was sent
            if index % 25 == 24 or args.trial is not None:
                healthy()
        except Exception as error:
            shown = " | ".join(data[:96].hex() + ("..." if len(data) > 96 else "") for data in sent)
            failures.append(f"seed {args.seed} trial {index}: {error!r}; sent {shown}")
            break
        trials, inputs = trials + 1, inputs + len(sent)
    if not failures:
        bounds()
        healthy()
    until = time.monotonic() + 6  # the threads of closed connections end soon after they close
    while time.monotonic() < until and any(proc(p, "Threads") > b for p, b in zip(servers, baseline)):
        time.sleep(0.2)
    for name, process, peak, start, base in zip(("raw", "VXI-11"), servers, peaks, start_rss, baseline):
        threads, final = proc(process, "Threads"), proc(process, "VmRSS")
        check(f"{name} server still running", process.poll(), None)
        check(f"{name} peak VmRSS within start + {MEMORY_MIB + RSS_SLACK_MIB} MiB", peak - start < MEMORY_MIB + RSS_SLACK_MIB << 10, True)
        check(f"{name} threads back to their baseline", threads <= base, True)
        print(f"{name}: VmRSS start {start >> 10} MiB, peak {peak >> 10} MiB, final {final >> 10} MiB; threads {base}, then {threads}")
    print(f"seed {args.seed}: {trials} trials, {inputs} inputs; limits {' '.join(limits)}")
    stop.set()
finish()
