#!/usr/bin/env python3
"""srq_judge (judge/*.x through the distribution's rpcgen and libtirpc) drives instrument-sim --vxi11: a held
*OPC?, the interrupt channel, device_readstb and the teardown. Skipped (77) where judge/build.sh cannot build."""
import os
import subprocess
import sys
import tempfile
from vxi11_client import server

build_sh = os.path.join(os.path.dirname(os.path.abspath(__file__)), "judge", "build.sh")
with tempfile.TemporaryDirectory() as build, server("--vxi11", "--portmapper-port", "0") as (_, (core_port, _)):
    sys.exit(subprocess.run(["sh", build_sh, build]).returncode or
             subprocess.run([os.path.join(build, "srq_judge"), str(core_port)], timeout=60).returncode)
