#!/usr/bin/env python3
"""Checks a HiSLIP capture as tshark decodes it (-T json, on stdin): every message well formed and
known; Initialize with version 1.0, vendor "MV", the sub-address; IDs and RMT-delivered as sent;
no message past the server's maximum; each response with the ID that asked it.
    capture_check.py PORT < decoded.json"""
import json
import sys

port, failures, FIRST_ID = sys.argv[1], [], 0xFFFFFF00


def control(message):
    return next(int(v, 0) for k, v in message.items() if k.startswith("hislip.controlcode"))


def parameter(message, name):
    value = message.get("hislip.msgpara")
    return int(value[name], 0) if isinstance(value, dict) and name in value else None


count, next_id, rmt_due, largest, last_sent = 0, FIRST_ID, False, None, None
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
            continue
        if to_server and kind == 0:
            named = (parameter(m, "hislip.msgpara.clientproto"), parameter(m, "hislip.msgpara.vendorID"),
                     m.get("hislip.data"))
            if named != (0x0100, 0x4D56, "hislip0"):
                failures.append(f"{where}: Initialize names {named}")
        if not to_server and kind == 16:
            largest = int(m["hislip.maxmsgsize"]) - 16
        if to_server and kind in (6, 7, 12):
            got = parameter(m, "hislip.msgpara.messageid")
            if got != next_id:
                failures.append(f"{where}: message ID {got:#x} where {next_id:#x} belongs")
            next_id = (next_id + 2) & 0xFFFFFFFF
            if kind != 12:
                last_sent = got
            if largest is not None and int(m["hislip.payloadlength"]) > largest:
                failures.append(f"{where}: {m['hislip.payloadlength']} bytes, past the server's {largest}")
        if to_server and kind in (6, 7, 12, 21):
            if bool(control(m) & 1) != rmt_due:
                failures.append(f"{where}: RMT-delivered {'unset' if rmt_due else 'set'}")
            rmt_due = False
        if to_server and kind == 8:
            next_id = FIRST_ID
        if not to_server and kind == 9:
            rmt_due = False  # the session drops what came before the clear's end, and its flag with it
        if not to_server and kind in (6, 7):
            got = parameter(m, "hislip.msgpara.messageid")
            if got != last_sent:
                failures.append(f"{where}: answers message ID {got:#x}, not the last sent, {last_sent}")
            rmt_due = rmt_due or kind == 7
if not count:
    failures.append("no HiSLIP message captured")
print(f"{count} HiSLIP messages decoded", *failures, sep="\n")
sys.exit(1 if failures else 0)
