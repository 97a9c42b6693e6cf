#!/usr/bin/env python3
"""instrument-sim driven by clients we did not write, lxi and pyvisa-py, over VXI-11 on port 111 (skipped
where it cannot be had) and over the raw socket."""
import math
import os
import subprocess
import sys
from vxi11_client import SKIP, check, failures, finish, server

try:
    import pyvisa
except ImportError as missing:
    sys.exit(f"{missing} under {sys.executable}: tools/install-prerequisites installs python3-pyvisa-py")

IDN = "Morvane,SIM-1,0,1.0"


def lxi(*args):
    done = subprocess.run(["lxi", *args], capture_output=True, timeout=60)
    check(f"lxi {' '.join(args)[:60]} exit code", (done.returncode, done.stderr[:200]), (0, b""))
    return done.stdout


def scpi(command, *options):
    return lxi("scpi", "--address", "127.0.0.1", "--timeout", "10", *options, command)


def waveform(session, form, datatype, order):
    """2000000 points, *RST first for the same noise; reads of 10^6 bytes, not a whole number of 64 KiB."""
    session.write(f"*RST;WAV:FORM {form};POIN 2000000;:FORM:BORD {order}")
    return session.query_binary_values("WAV:DATA?", datatype=datatype, is_big_endian=order == "NORM", container=list,
                                       chunk_size=1000000)


def thousand_integers_up(session, what):
    """1000 INT,16 uploaded, then a query: pyvisa-py sends a write past 1024 bytes without END."""
    values = [i * 37 % 65536 - 32768 for i in range(1000)]
    session.write("*RST;WAV:FORM INT,16;FORM:BORD NORM")
    session.write_binary_values("TRAC:DATA ", values, datatype="h", is_big_endian=True)
    check(f"{what} error queue after 1000 INT,16", session.query("SYST:ERR?").rstrip(), '0,"No error"')
    check(f"{what} 1000 INT,16 read back", session.query_binary_values("TRAC:DATA?", datatype="h", is_big_endian=True, container=list),
          values)


def pyvisa_vxi11(visa, raw_volts):
    device = visa.open_resource("TCPIP::127.0.0.1::INSTR", timeout=20000)
    check("pyvisa *IDN?", device.query("*IDN?"), IDN + "\n")
    thousand_integers_up(device, "pyvisa")
    check("pyvisa list", device.query_ascii_values("DATA:LIST 1,2.5,-3;LIST?"), [1, 2.5, -3])
    # Blocks of 8 MB and 4 MB in both byte orders: the same elements, the same as over the raw socket.
    volts, counts = ([waveform(device, form, datatype, order) for order in ("NORM", "SWAP")]
                     for form, datatype in (("REAL,32", "f"), ("INT,16", "h")))
    check("pyvisa element counts", [len(elements) for elements in volts + counts], [2000000] * 4)
    check("pyvisa REAL,32 byte orders", volts[1] == volts[0], True)
    check("pyvisa INT,16 byte orders", counts[1] == counts[0], True)
    check("pyvisa REAL,32 as over the raw socket", volts[0] == raw_volts, True)
    check("pyvisa INT,16 is 25000 a volt", max(map(lambda c, v: abs(c / 25000 - v), counts[0], volts[0])) < 1e-4, True)
    # pyvisa-py 0.5 sets END only on a last piece of at most 1024 bytes: this message goes in
    # pieces of 1 MiB (maxRecvSize) and a last one of 2021 bytes, without END: its line feed ends it.
    upload = [(i % 2001 - 1000) / 8 for i in range((1 << 20) + 500)]  # exact in REAL,32
    device.write("*RST;FORM:BORD SWAP")
    device.write_binary_values("TRAC:DATA ", upload, datatype="f", is_big_endian=False)
    check("pyvisa upload read back", device.query_binary_values("TRAC:DATA?", datatype="f", is_big_endian=False, container=list), upload)
    check("pyvisa upload as values", device.query_ascii_values("TRAC:VAL?"), upload)
    device.write("SYST:NOPE")
    check("pyvisa error queue", [device.query("SYST:ERR?") for _ in "12"], ['-113,"Undefined header"\n', '0,"No error"\n'])
    device.close()


# A pyvisa.Error (a timeout, an I/O error) fails the test with its traceback.
with server() as (_, (raw_port,)), server("--vxi11") as (vxi11, vxi11_ports):  # the portmapper on 111
    raw_options = ("--raw", "--port", str(raw_port))
    check("raw *IDN?", scpi("*IDN?", *raw_options), IDN.encode() + b"\n")
    check("raw list", scpi("DATA:LIST 1,2.5,-3;LIST?", *raw_options), b"1,2.5,-3\n")
    visa = pyvisa.ResourceManager("@py")
    socket_session = visa.open_resource(f"TCPIP::127.0.0.1::{raw_port}::SOCKET", timeout=20000,
                                        read_termination="\n", write_termination="\n")
    check("pyvisa raw *IDN?", socket_session.query("*IDN?"), IDN)
    thousand_integers_up(socket_session, "pyvisa raw")
    raw_volts = waveform(socket_session, "REAL,32", "f", "SWAP")
    sine = (math.exp(-4 * i / 1999999) * math.sin(10 * math.pi * i / 1999999) for i in range(2000000))
    check("pyvisa raw block", (len(raw_volts), max(map(lambda v, s: abs(v - s), raw_volts, sine)) < 0.15), (2000000, True))
    socket_session.close()
    if not vxi11_ports:
        print(f"SKIPPED: VXI-11 with lxi and pyvisa needs port 111: {vxi11.stderr.read().decode().strip()}")
        sys.exit("\n".join(failures) if failures else SKIP)
    check("*IDN?", scpi("*IDN?"), IDN.encode() + b"\n")
    check("list", scpi("DATA:LIST 1,2.5,-3;LIST?"), b"1,2.5,-3\n")
    upload = subprocess.run(["lxi", "run", os.path.join(os.path.dirname(__file__), "upload.lua")], capture_output=True, timeout=60)
    check("upload, read back and the error queue", upload.stdout.decode().split("\n")[:3],
          ["read back whole", '-222,"Data out of range"', '0,"No error"'])
    bench = lxi("benchmark", "--address", "127.0.0.1", "--timeout", "10", "--count", "200")
    check("benchmark", b"requests/second" in bench, True)
    print(bench.decode().strip().rsplit("\n", 1)[-1].rsplit("Result:", 1)[-1].strip(), "(lxi benchmark, *IDN? over VXI-11)")
    pyvisa_vxi11(visa, raw_volts)

finish()
