#!/usr/bin/env python3
"""instrument-sim --serial driven by a client we did not write: pyvisa with pyvisa-py opens the
Linux end of a serial pair (with_serial_pair.sh) as ASRL<path>::INSTR through python3-serial:
identification, a list, a binary block in both byte orders, the error queue."""
import os
import subprocess
import sys

try:
    import pyvisa
except ImportError as missing:
    sys.exit(f"{missing} under {sys.executable}: tools/install-prerequisites installs python3-pyvisa-py")

failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r:.200}, expected {expected!r:.200}")


theirs = os.environ["MORVANE_SERIAL_PAIR"].split(",")[1]
linux_end = os.environ["MORVANE_SERIAL_DEVICES"].split(",")[0]
sim = os.path.join(os.environ["BUILD_DIR"], "bin", "instrument-sim.exe")
server = subprocess.Popen([os.environ.get("WINE", "wine"), sim, "--serial", f"COM{theirs}", "--seconds", "60"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
try:
    check("instrument-sim's first line", server.stdout.readline().decode().strip(), f"COM{theirs}")
    session = pyvisa.ResourceManager("@py").open_resource(f"ASRL{linux_end}::INSTR", baud_rate=9600,
                                                          read_termination="\n", write_termination="\n",
                                                          timeout=5000)
    check("*IDN?", session.query("*IDN?"), "Morvane,SIM-1,0,1.0")
    session.write("*RST;DATA:LIST 1.5,-2,3e3")
    check("a list", session.query_ascii_values("DATA:LIST?"), [1.5, -2.0, 3000.0])
    blocks = []
    for order in ("NORM", "SWAP"):  # *RST first, so that each draws the same noise
        session.write(f"*RST;WAV:FORM REAL,32;POIN 1000;:FORM:BORD {order}")
        blocks.append(session.query_binary_values("WAV:DATA?", datatype="f", is_big_endian=order == "NORM",
                                                  container=list, expect_termination=True))
    check("blocks of 1000 in both byte orders", (len(blocks[0]), blocks[0] == blocks[1]), (1000, True))
    session.write("BOGUS")
    check("the error queue", session.query("SYST:ERR?"), '-113,"Undefined header"')
    session.close()
finally:
    server.kill()
    server.wait()
print("\n".join(failures) or "every check passed")
sys.exit(1 if failures else 0)
