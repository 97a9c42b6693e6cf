#!/usr/bin/env python3
"""instrument-sim --serial driven by pyvisa-py (python3-serial) on the Linux end of a serial pair
(with_serial_pair.sh): identification, a list, blocks in both byte orders, the error queue."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vxi11"))
from vxi11_client import check, finish, server

try:
    import pyvisa
except ImportError as missing:
    sys.exit(f"{missing} under {sys.executable}: tools/install-prerequisites installs python3-pyvisa-py")

theirs = os.environ["MORVANE_SERIAL_PAIR"].split(",")[1]
linux_end = os.environ["MORVANE_SERIAL_DEVICES"].split(",")[0]
with server("--serial", f"COM{theirs}"):
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
finish()
