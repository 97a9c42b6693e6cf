#!/usr/bin/env python3
"""A judge we did not write the RPC of: tests/vxi11/judge/*.x, written from the protocol's public
numbers, built by the distribution's rpcgen and libtirpc into a small C client (srq_judge.c)
that drives instrument-sim --vxi11: create_intr_chan, device_enable_srq, the device_intr_srq
calls it serves, device_readstb, the teardown. Skipped (77) without rpcgen, a C compiler or
libtirpc's headers (tools/install-prerequisites installs rpcsvc-proto and libtirpc-dev)."""
import os
import shutil
import subprocess
import sys
import tempfile
from vxi11_client import SKIP, start_server

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "judge")
compiler = shutil.which("cc") or shutil.which("gcc")
if not shutil.which("rpcgen") or not compiler or not os.path.exists("/usr/include/tirpc/rpc/rpc.h"):
    print("rpcgen, a C compiler or libtirpc's headers are missing: skipped")
    sys.exit(SKIP)

with tempfile.TemporaryDirectory() as build:
    run = lambda *command: subprocess.run(command, cwd=build, check=True)
    sources = [os.path.join(here, "srq_judge.c")]
    for name in ("vxi11_core", "vxi11_intr"):
        shutil.copy(os.path.join(here, name + ".x"), build)
        run("rpcgen", "-h", "-o", name + ".h", name + ".x")
        run("rpcgen", "-c", "-o", name + "_xdr.c", name + ".x")
        sources.append(name + "_xdr.c")
    run("rpcgen", "-l", "-o", "vxi11_core_clnt.c", "vxi11_core.x")
    run("rpcgen", "-m", "-o", "vxi11_intr_svc.c", "vxi11_intr.x")
    sources += ["vxi11_core_clnt.c", "vxi11_intr_svc.c"]
    # What rpcgen writes is not ours to keep warning-free: -w.
    run(compiler, "-w", "-I/usr/include/tirpc", "-I.", "-o", "srq_judge", *sources, "-ltirpc")
    server, (core_port, _) = start_server("--vxi11", "--portmapper-port", "0")
    try:
        judged = subprocess.run([os.path.join(build, "srq_judge"), str(core_port)], timeout=60)
    finally:
        server.kill()
        server.wait()
sys.exit(judged.returncode)
