#!/usr/bin/env python3
"""A judge we did not write the RPC of: srq_judge.c and judge/*.x, written from the protocol's
public numbers and built by the distribution's rpcgen and libtirpc (judge/build.sh), drives
instrument-sim --vxi11: create_intr_chan, device_enable_srq, the device_intr_srq calls it serves,
device_readstb, the teardown. Skipped (77) where build.sh cannot build."""
import os
import subprocess
import sys
import tempfile
from vxi11_client import server

build_sh = os.path.join(os.path.dirname(os.path.abspath(__file__)), "judge", "build.sh")
with tempfile.TemporaryDirectory() as build, server("--vxi11", "--portmapper-port", "0") as (_, (core_port, _)):
    sys.exit(subprocess.run(["sh", build_sh, build]).returncode or
             subprocess.run([os.path.join(build, "srq_judge"), str(core_port)], timeout=60).returncode)
