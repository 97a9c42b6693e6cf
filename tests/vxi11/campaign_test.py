#!/usr/bin/env python3
"""A seeded campaign against instrument-sim's servers, raw and VXI-11 (its portmapper too):
random and mutated record marks, RPC headers, XDR lengths and SCPI messages, sent whole, in
pieces or a byte at a time, some connections left idle; then each documented bound once (the
connection cap, the idle timeout, the link table, marks that claim much, responses left unread,
a read that waits for ever, endless messages); then a normal client must still be answered,
the process's memory must have stayed under its bound and its threads come back.

    campaign_test.py [--seed N] [--trials N | --seconds S] [--trial K]

or, through CTest, MORVANE_CAMPAIGN_SEED, MORVANE_CAMPAIGN_TRIALS, MORVANE_CAMPAIGN_SECONDS.

A failing trial prints the seed and its number (--trial K replays it alone) and what it sent."""
import argparse
import os
import random
import socket
import struct
import sys
import threading
import time
from vxi11_client import CORE, PORTMAPPER, Link, call_message, opaque, start_server

MAX_CONNECTIONS, IDLE_S, MEMORY_MIB = 8, 3, 96  # small limits keep the bounds quick to reach
RSS_SLACK_MIB = 64  # VmRSS may pass its start by the memory limit and this (Wine's heaps, replies in flight)
parser = argparse.ArgumentParser()
environment = lambda name, otherwise: type(otherwise)(os.environ.get("MORVANE_CAMPAIGN_" + name, otherwise))
parser.add_argument("--seed", type=int, default=environment("SEED", int(time.time()) % 1000000))
parser.add_argument("--trials", type=int, default=environment("TRIALS", 0))
parser.add_argument("--seconds", type=float, default=environment("SECONDS", 4.0))
parser.add_argument("--trial", type=int)
args = parser.parse_args()
SCPI = [b"*IDN?\n", b"SYST:ERR?\n", b"MEAS:ARR? 5000\n", b"DATA:LIST 1,2;LIST?\n", b"WAV:DATA?\n",
        b"TRAC:DATA #15abcde\n", b"TRAC:DATA #9999999999", b"*RST;*OPC?\n", b"MEAS:VOLT?", b""]
INTERESTING = [0, 1, 3, 4, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFC, 1 << 20, 33 << 20]
CREATE_LINK = struct.pack(">iiI", 7, 0, 0) + opaque(b"inst0")

limits = ["--max-connections", str(MAX_CONNECTIONS), "--idle-timeout", str(IDLE_S), "--memory-limit", str(MEMORY_MIB)]
raw_server, (raw_port,) = start_server(*limits)
vxi_server, (core_port, mapper_port) = start_server("--vxi11", "--portmapper-port", "0", *limits)
failures, sent = [], []


def proc(process, field):
    with open(f"/proc/{process.pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith(field + ":"))


class Peak(threading.Thread):
    """The highest VmRSS (KiB) of a process, sampled every 20 ms."""

    def __init__(self, process):
        super().__init__(daemon=True)
        self.process, self.kib, self.running = process, 0, True
        self.start()

    def run(self):
        while self.running and self.process.poll() is None:
            self.kib = max(self.kib, proc(self.process, "VmRSS"))
            time.sleep(0.02)


def connect(port, udp=False, timeout=1.0):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if udp else socket.SOCK_STREAM)
    sock.settimeout(5)  # past the listen backlog, a connection is retried after a second
    sock.connect(("127.0.0.1", port))
    sock.settimeout(timeout)
    return sock


def send(sock, data, slow=False):
    sent.append(data)
    if slow:  # the first bytes one at a time, the way a slow link delivers them
        for i in range(min(len(data), 48)):
            sock.send(data[i:i + 1])
            time.sleep(0.001)
        data = data[48:]
    sock.sendall(data)


def receive(sock, seconds, replies=None, most=4 << 20):
    """What arrives within `seconds`, until the connection closes or `replies` records came."""
    data, until = b"", time.monotonic() + seconds
    while len(data) < most and time.monotonic() < until and (replies is None or len(records(data)) < replies):
        sock.settimeout(max(0.001, until - time.monotonic()))
        try:
            chunk = sock.recv(1 << 16)
        except (socket.timeout, ConnectionError):
            break
        if not chunk:
            break
        data += chunk
    return data


def records(data):
    """The whole records in a reply stream, fragments joined."""
    found, record, at = [], b"", 0
    while at + 4 <= len(data):
        (mark,) = struct.unpack_from(">I", data, at)
        if at + 4 + (mark & 0x7FFFFFFF) > len(data):
            break
        record += data[at + 4:at + 4 + (mark & 0x7FFFFFFF)]
        at += 4 + (mark & 0x7FFFFFFF)
        if mark & 0x80000000:
            found, record = found + [record], b""
    return found


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
    mode = rng.choice(["whole"] * 5 + ["pieces", "tiny", "no last", "huge", "lying", "random"])
    mark = lambda size, last=True: struct.pack(">I", size | (0x80000000 if last else 0))
    if mode == "whole":
        return mark(len(message)) + message, True
    if mode in ("pieces", "tiny"):
        cuts = sorted(rng.randint(0, len(message)) for _ in range(rng.randint(1, 8))) if mode == "pieces" else range(len(message))
        edges = [0, *cuts, len(message)]
        parts = [message[a:b] for a, b in zip(edges, edges[1:])]  # empty fragments among them
        return b"".join(mark(len(part), i == len(parts) - 1) + part for i, part in enumerate(parts)), True
    if mode == "no last":
        return mark(len(message), False) + message, False
    if mode == "huge":
        return mark(rng.choice([33 << 20, 0x7FFFFFFF, rng.randint(len(message) + 1, 1 << 25)]), rng.random() < 0.5) + message, False
    if mode == "lying":
        return mark(rng.randint(0, len(message))) + message, False
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


held = []  # connections some trials leave idle


def keep_or_close(rng, sock):
    if rng.random() < 0.05 and len(held) < MAX_CONNECTIONS // 2 - 1:
        held.append(sock)
    else:
        sock.close()


def core_trial(rng):
    sock = connect(core_port)
    send(sock, struct.pack(">I", 0x80000000 | 64) + call_message(1, CORE, 1, 10, CREATE_LINK))
    lid = struct.unpack_from(">i", records(receive(sock, 2, 1))[0], 28)[0]
    xids, whole = [], True
    for _ in range(rng.randint(1, 6)):
        message = mutate(rng, core_call(rng, lid))
        stream, kept = frame(rng, message)
        whole, xids = whole and kept, xids + [message[:4]]
        send(sock, stream, slow=rng.random() < 0.05)
    for reply in records(receive(sock, 0.15, len(xids) if whole else None)) if whole else []:
        assert reply[:4] in xids and reply[4:8] == b"\0\0\0\1", f"a reply that answers no call: {reply[:32].hex()}"
    keep_or_close(rng, sock)


def mapper_trial(rng):
    udp = rng.random() < 0.5
    sock = connect(mapper_port, udp)
    message = mutate(rng, mapper_call(rng))
    stream, _ = (message, True) if udp else frame(rng, message)
    send(sock, stream)
    receive(sock, 0.05)
    keep_or_close(rng, sock) if not udp else sock.close()


def raw_trial(rng):
    sock = connect(raw_port)
    for _ in range(rng.randint(1, 5)):
        message = rng.choice(SCPI)
        if rng.random() < 0.3:
            message = bytes(b if rng.random() > 0.1 else rng.getrandbits(8) for b in message)
        if rng.random() < 0.05:
            message = rng.choice([b"x", b"#9999999", b"*IDN?"]) * rng.randint(1, 200000)  # no line feed
        send(sock, message, slow=rng.random() < 0.05)
    receive(sock, 0.05)
    keep_or_close(rng, sock)


def healthy():
    link = Link(core_port)
    assert link.query(b"*IDN?\n") == "Morvane,SIM-1,0,1.0\n"
    link.rpc.sock.close()
    with connect(raw_port, timeout=10) as sock:
        sock.sendall(b"*IDN?\n")
        assert receive(sock, 10, most=20) == b"Morvane,SIM-1,0,1.0\n"


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r}, expected {expected!r}")


def bounds():
    """Each documented bound, once."""
    # The cap: connections past it are closed at once; the others, idle, after the idle timeout.
    socks = [connect(raw_port) for _ in range(MAX_CONNECTIONS + 4)]
    time.sleep(0.5)
    check("connections past the cap closed at once", sum(1 for s in socks[-4:] if closed(s, 0.5)), 4)
    deadline = time.monotonic() + IDLE_S + 2
    idle = sum(1 for s in socks[:MAX_CONNECTIONS] if closed(s, deadline - time.monotonic()))
    check("idle connections closed", idle, MAX_CONNECTIONS)
    [s.close() for s in socks]
    link = Link(core_port)
    check("links on a connection before error 9", [link.ok(10, CREATE_LINK)[:4]
                                                   for _ in range(15)].count(b"\0\0\0\0"), 15)
    check("the link past the table", link.ok(10, CREATE_LINK)[:4], struct.pack(">i", 9))
    link.rpc.sock.close()
    before = proc(vxi_server, "VmRSS")
    marks = [connect(core_port) for _ in range(4)]
    for s in marks:
        s.sendall(struct.pack(">I", 0x80000000 | (32 << 20)) + b"12345678")
    time.sleep(0.5)
    check("memory held for marks that claim 32 MiB below 16 MiB", proc(vxi_server, "VmRSS") - before < 16 << 10, True)
    [s.close() for s in marks]
    # Queries left unread on many links, and a read that waits for ever: closed without a word.
    unread = Link(core_port)
    links = [unread.lid] + [struct.unpack_from(">i", unread.ok(10, CREATE_LINK), 4)[0] for _ in range(11)]
    for lid in links:
        unread.write(b"WAV:FORM REAL,64;POIN 2000000;DATA?\n", lid=lid)
    waiting = Link(core_port)
    forever = struct.pack(">iIIIiI", waiting.lid, 1, 0xFFFFFFFF, 0, 0, 0)
    waiting.rpc.sock.sendall(struct.pack(">I", 0x80000040) + call_message(9, CORE, 1, 12, forever))
    unread.rpc.sock.close()
    waiting.rpc.sock.close()
    # Endless messages: past 24 MiB they are dropped as they come, with -223 ("Too much data").
    with connect(raw_port, timeout=10) as sock:
        sock.sendall(b"DATA:LIST " + b"1," * (25 << 19) + b"1\nSYST:ERR?\n")
        check("raw message past 24 MiB", receive(sock, 10, most=40)[:5], b"-223,")
    endless = Link(core_port)
    endless.rpc.sock.settimeout(10)
    endless.write(b"DATA:LIST 1", end=False)
    for _ in range(25):
        endless.write(b",1" * (1 << 19), end=False)
    endless.write(b"\n")
    check("device_write without END past 24 MiB", endless.query(b"SYST:ERR?\n")[:5], "-223,")
    endless.rpc.sock.close()


def closed(sock, seconds):
    try:
        sock.settimeout(max(0.001, seconds))
        return sock.recv(1) == b""
    except socket.timeout:
        return False
    except ConnectionError:
        return True


def block(port_or_link):
    """A 4 MB definite block of the waveform, as the first bytes after *RST make it."""
    command = b"*RST;WAV:POIN 1000000;DATA?\n"
    if isinstance(port_or_link, Link):
        port_or_link.write(command)
        return port_or_link.read(size=8 << 20, timeout=20000)[2]
    with connect(port_or_link, timeout=20) as sock:
        sock.sendall(command)
        return receive(sock, 20, most=4000010)


peaks = [Peak(raw_server), Peak(vxi_server)]
try:
    healthy()
    time.sleep(0.3)
    start_rss = [proc(p, "VmRSS") for p in (raw_server, vxi_server)]
    baseline = [proc(p, "Threads") for p in (raw_server, vxi_server)]
    trials, inputs, started = 0, 0, time.monotonic()
    while (args.trial is None and (trials < args.trials if args.trials else time.monotonic() - started < args.seconds)) or \
            (args.trial is not None and trials == 0):
        index = args.trial if args.trial is not None else trials
        rng, sent = random.Random(args.seed * 1000003 + index), []
        kind = rng.choice([core_trial] * 6 + [mapper_trial] * 2 + [raw_trial] * 2)
        try:
            try:
                kind(rng)
            except (OSError, IndexError):
                pass  # refused, reset or timed out: a peer's right after what it was sent
            if index % 25 == 24 or args.trial is not None:
                healthy()
        except Exception as error:
            shown = " | ".join(data[:96].hex() + ("..." if len(data) > 96 else "") for data in sent)
            failures.append(f"seed {args.seed} trial {index} ({kind.__name__}): {error!r}; sent {shown}")
            break
        trials, inputs = trials + 1, inputs + len(sent)
    for sock in held:
        sock.close()
    if not failures:
        bounds()
        healthy()
        link = Link(core_port)
        link.rpc.sock.settimeout(20)
        vxi, raw = block(link), block(raw_port)
        check("a 4 MB block intact over both", (vxi[:9], len(vxi), vxi == raw), (b"#74000000", 4000010, True))
        link.rpc.sock.close()
    deadline = time.monotonic() + 6  # the threads of closed connections end soon after they close
    while time.monotonic() < deadline and any(proc(p, "Threads") > b for p, b in zip((raw_server, vxi_server), baseline)):
        time.sleep(0.2)
    threads = [proc(p, "Threads") for p in (raw_server, vxi_server)]
    final = [proc(p, "VmRSS") for p in (raw_server, vxi_server)]
    for name, server in (("raw", raw_server), ("VXI-11", vxi_server)):
        check(f"{name} server still running", server.poll(), None)
    for name, peak, start, thread, base in zip(("raw", "VXI-11"), peaks, start_rss, threads, baseline):
        bound = MEMORY_MIB + RSS_SLACK_MIB
        check(f"{name} peak VmRSS within start + {bound} MiB", peak.kib - start < bound << 10, True)
        check(f"{name} threads back to their baseline", thread <= base, True)
        print(f"{name}: VmRSS start {start >> 10} MiB, peak {peak.kib >> 10} MiB, final {final[0 if name == 'raw' else 1] >> 10} MiB; "
              f"threads baseline {base}, final {thread}")
    print(f"seed {args.seed}: {trials} trials, {inputs} inputs; limits {' '.join(limits)}")
finally:
    for peak in peaks:
        peak.running = False
    for server in (raw_server, vxi_server):
        server.kill()
        server.wait()
print("\n".join(failures) or "every check passed")
sys.exit(1 if failures else 0)
