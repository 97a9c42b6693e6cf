#!/usr/bin/env python3
"""A HiSLIP capture as tshark decodes it (-T json on stdin): every message well formed and known,
Initialize with version 1.0, vendor "MV" and the sub-address.   capture_check.py PORT < decoded.json"""
import json
import sys

port, failures, count = sys.argv[1], [], 0


def parameter(message, name):
    value = message.get("hislip.msgpara")
    return int(value[name], 0) if isinstance(value, dict) and name in value else None


for frame in json.load(sys.stdin):
    layers = frame["_source"]["layers"]
    if "_ws.malformed" in layers:
        failures.append(f"frame {layers['frame']['frame.number']} is malformed")
    found = layers.get("hislip", [])
    for m in found if isinstance(found, list) else [found]:
        to_server, kind, count = layers["tcp"]["tcp.dstport"] == port, int(m["hislip.messagetype"], 0), count + 1
        where = f"message {count - 1} (type {kind}, {'to' if to_server else 'from'} the server)"
        if kind > 25:
            failures.append(f"{where}: an unknown type")
        elif to_server and kind == 0:
            named = (parameter(m, "hislip.msgpara.clientproto"), parameter(m, "hislip.msgpara.vendorID"), m.get("hislip.data"))
            if named != (0x0100, 0x4D56, "hislip0"):
                failures.append(f"{where}: Initialize names {named}")
if not count:
    failures.append("no HiSLIP message captured")
print(f"{count} HiSLIP messages decoded", *failures, sep="\n")
sys.exit(1 if failures else 0)
