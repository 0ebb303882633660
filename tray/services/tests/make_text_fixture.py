#!/usr/bin/env python3
"""Writes a profiles body whose lines end in CR LF and which holds a 0x1A byte mid-file: the
bytes that a text-mode read would change (CR LF to LF) or cut short (0x1A as end of file)."""
import sys

with open(sys.argv[1], "wb") as f:
    f.write(b"# extra LV1 builds\r\nv17.4 0x8F0000 0x8F054B 0x118 0 0\r\n; \x1a after the mark\r\n"
            b"v17.5 8F1000 8F154B 118 0 0\r\n")
