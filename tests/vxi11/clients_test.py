#!/usr/bin/env python3
"""instrument-sim driven by a VXI-11 client we did not write (lxi): over VXI-11 on port 111,
which that client asks, and over the raw socket on a port the server picked. Skipped, with
a message, where port 111 cannot be had."""
import math
import os
import struct
import subprocess
import sys
from vxi11_client import SKIP, start_server

failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r:.200}, expected {expected!r:.200}")


def lxi(*args):
    done = subprocess.run(["lxi", *args], capture_output=True, timeout=60)
    check(f"lxi {' '.join(args)[:60]} exit code", (done.returncode, done.stderr[:200]), (0, b""))
    return done.stdout


def scpi(command, *options):
    return lxi("scpi", "--address", "127.0.0.1", "--timeout", "10", *options, command)


def block(order, *options):
    hex_text = scpi(f"WAV:FORM INT,32;POIN 1000000;:FORM:BORD {order};:WAV:DATA?", "--hex", *options)
    return bytes(int(token, 16) for token in hex_text.split())


raw, (raw_port,) = start_server()
vxi11, vxi11_ports = start_server("--vxi11")  # the portmapper on 111
try:
    raw_options = ("--raw", "--port", str(raw_port))
    check("raw *IDN?", scpi("*IDN?", *raw_options), b"Morvane,SIM-1,0,1.0\n")
    check("raw list", scpi("DATA:LIST 1,2.5,-3;LIST?", *raw_options), b"1,2.5,-3\n")
    raw_start = block("NORM", *raw_options)  # lxi takes what one receive brings over a raw socket
    if not vxi11_ports:
        print(f"SKIPPED: VXI-11 with lxi needs port 111: {vxi11.stderr.read().decode().strip()}")
        sys.exit(SKIP if not failures else 1)
    check("*IDN?", scpi("*IDN?"), b"Morvane,SIM-1,0,1.0\n")
    check("list", scpi("DATA:LIST 1,2.5,-3;LIST?"), b"1,2.5,-3\n")
    # A block of 4 MB in both byte orders: the same elements, the same bytes as over the raw socket.
    normal, swapped = block("NORM"), block("SWAP")
    check("block header", (normal[:9], swapped[:9], len(normal), len(swapped)), (b"#74000000", b"#74000000", 4000010, 4000010))
    check("block as over the raw socket", (normal[:len(raw_start)], len(raw_start) > 9), (raw_start, True))
    values = struct.unpack(">1000000i", normal[9:-1])
    check("byte orders", struct.unpack("<1000000i", swapped[9:-1]), values)
    worst = max(abs(v / 1e9 - math.exp(-4 * i / 999999) * math.sin(10 * math.pi * i / 999999)) for i, v in enumerate(values))
    check("elements within the noise of the damped sine", worst < 0.15, True)
    upload = subprocess.run(["lxi", "run", os.path.join(os.path.dirname(__file__), "upload.lua")], capture_output=True, timeout=60)
    check("upload, read back and the error queue", upload.stdout.decode().split("\n")[:3],
          ["read back whole", '-222,"Data out of range"', '0,"No error"'])
    bench = lxi("benchmark", "--address", "127.0.0.1", "--count", "200")
    check("benchmark", b"requests/second" in bench, True)
    print(bench.decode().strip().rsplit("\n", 1)[-1].rsplit("Result:", 1)[-1].strip(), "(lxi benchmark, *IDN? over VXI-11)")
finally:
    for server in (raw, vxi11):
        server.kill()
        server.wait()

print("\n".join(failures) or "every check passed")
sys.exit(1 if failures else 0)
