#!/usr/bin/env python3
"""Reads JSON texts, one per line as hex, and prints each one's value in the canonical form the
cross-check test also prints, or ERR when Python's json refuses it."""
import json
import sys


class Obj:
    def __init__(self, pairs):
        self.pairs = pairs


def utf8(s):
    return s.encode("utf-8", "surrogatepass").hex()


def canon(v):
    if v is None:
        return "n"
    if v is True:
        return "t"
    if v is False:
        return "f"
    if isinstance(v, float):
        return "d" + ("%.17g" % v)
    if isinstance(v, str):
        return "s" + utf8(v) + ";"
    if isinstance(v, list):
        return "[" + ",".join(canon(x) for x in v) + "]"
    if isinstance(v, Obj):
        return "{" + ",".join(utf8(k) + ":" + canon(x) for k, x in v.pairs) + "}"
    raise TypeError(type(v))


for line in sys.stdin:
    raw = bytes.fromhex(line.strip())
    try:
        text = raw.decode("utf-8")
        value = json.loads(text, parse_int=float, object_pairs_hook=Obj)
        print(canon(value))
    except (ValueError, RecursionError):
        print("ERR")
