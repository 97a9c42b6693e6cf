#!/usr/bin/env python3
"""registry_keys.py SYSTEM.REG [+|-]KEY[=DEFAULT]...: each key of HKEY_CLASSES_ROOT in a Wine
prefix's registry file there (+, with that default when given) or not (-); prints what is wrong."""
import re
import sys


def escaped(text):
    return text.replace("\\", "\\\\").lower()


registry = open(sys.argv[1], encoding="utf-8", errors="replace").read().lower()
wrong = 0
for entry in sys.argv[2:]:
    key, _, default = entry[1:].partition("=")
    path = re.escape(escaped("software\\classes\\" + key))
    # A section for each key with values or without subkeys: a key is there when one is at or below it.
    there = re.search(r"^\[" + path + r"(\\\\[^\]]*)?\]", registry, re.M) is not None
    section = re.search(r"^\[" + path + r"\][^\n]*\n((?:[^\[][^\n]*\n)*)", registry, re.M)
    value = section and re.search(r'^@="(.*)"$', section.group(1), re.M)
    if there != (entry[0] == "+") or (default and not (value and value.group(1) == escaped(default))):
        print(f"wrong: {entry}", file=sys.stderr)
        wrong += 1
sys.exit(1 if wrong else 0)
