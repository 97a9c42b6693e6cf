#!/usr/bin/env python3
"""A hostile far end of a serial pair (with_serial_pair.sh) against fmtio's session: 10 MB without a
terminator, and a hang-up while a read waits (Wine tells a hung-up line from a quiet one only on a write)."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vxi11"))
from vxi11_client import check, finish

mine = os.environ["MORVANE_SERIAL_PAIR"].split(",")[0]
far_end = os.open(os.environ["MORVANE_SERIAL_DEVICES"].split(",")[1], os.O_RDWR | os.O_NOCTTY)
bin_dir = os.path.join(os.environ["BUILD_DIR"], "bin")


def fmtio(timeout_ms, *commands):
    given, giving = os.pipe()
    os.write(giving, "".join(c + "\n" for c in commands).encode())
    os.close(giving)
    shell = subprocess.Popen([os.environ.get("WINE", "wine"), os.path.join(bin_dir, "fmtio.exe"), "--dll",
                              os.path.join(bin_dir, "Morvane.dll"), "-r", f"ASRL{mine}::INSTR", "--serial",
                              "115200,8N1", "--timeout", str(timeout_ms), "shell"], stdin=given,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    os.close(given)
    heard = b""
    while not heard.endswith(b"*IDN?\n"):
        heard += os.read(far_end, 100)
    return shell


# 10 MB of digits and no line feed; then silence.
shell = fmtio(1500, "query *IDN?")
answer, sent, started = b"7" * 10_000_000, 0, time.monotonic()
while sent < len(answer):
    sent += os.write(far_end, answer[sent:sent + (1 << 20)])
out = shell.communicate(timeout=60)[0].decode()
check("10 MB without a terminator: the read's end", (out.count("0x80040015"), "Unhandled" in out), (1, False))
check("... in bounded time", time.monotonic() - started < 45, True)

# The far end hangs up while a read waits: the read waits out its timeout, the next call's write
# fails, and every call after it at once.
shell = fmtio(3000, "query *IDN?", "stb", "query *IDN?")
os.kill(int(os.environ["MORVANE_SERIAL_PAIR_PROCESS"]), 15)
out = shell.communicate(timeout=60)[0].decode()
check("a far end that hangs up: the calls' ends", [line for line in out.splitlines() if "description" in line], [
    "  description:  Timeout expired before operation completed.",
    f"  description:  The serial port COM{mine} failed: a write failed (Not ready).",
    "  description:  The connection to the instrument was lost."])
check("... and no crash", "Unhandled" in out, False)
finish()
