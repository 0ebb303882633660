#!/usr/bin/env python3
"""Reads every named golden page model with Python's json module and checks its shape: the
top-level keys in the order the page model writes them, each card's keys in order, and every
tone a known tone name. Exits non-zero with a message on the first fault."""
import json
import sys

TOP = ["header", "menu", "steps", "lv1", "perm", "notice", "nothing", "installAnyway", "nothingAddr",
       "cards", "confirmRemove", "confirmUpdate", "message", "messageBad", "anyInstalled", "legacyAny",
       "lv1Up", "version", "busy", "fakeModal", "fakeModalCon", "fakeOpen"]
OPTIONAL = {"notice", "confirmUpdate"}
CARD = ["c", "name", "beta", "meta", "status", "dot", "edge", "state", "on", "switchEnabled", "msg", "msgTone",
        "retry", "support", "blink", "installed", "recall", "resyncLv1", "cands", "details", "recallDesc",
        "dropTitle", "dropDesc", "summary", "addr", "confirmOff"]
TONES = {"ok", "warn", "bad", "lv1", "dim"}


def fail(msg):
    print(msg, file=sys.stderr)
    sys.exit(1)


def ordered_subset(keys, order, where):
    pos = [order.index(k) if k in order else fail(f"{where}: unknown key {k}") for k in keys]
    if pos != sorted(pos):
        fail(f"{where}: keys out of order: {keys}")


def main():
    folder, states = sys.argv[1], sys.argv[2:]
    if not states:
        fail("no states named")
    for state in states:
        with open(f"{folder}/{state}.json", "rb") as f:
            raw = f.read()
        model = json.loads(raw.decode("utf-8"), object_pairs_hook=lambda pairs: pairs)
        keys = [k for k, _ in model]
        ordered_subset(keys, TOP, state)
        for k in TOP:
            if k not in OPTIONAL and k not in keys:
                fail(f"{state}: missing {k}")
        d = dict(model)
        for tone in (dict(d["header"])["tone"], dict(d["menu"])["tone"]):
            if tone not in TONES:
                fail(f"{state}: tone {tone}")
        for card in d["cards"]:
            ck = [k for k, _ in card]
            ordered_subset(ck, CARD, f"{state} card")
            cd = dict(card)
            for k in ("dot", "edge", "msgTone"):
                if cd[k] not in TONES:
                    fail(f"{state}: card tone {k}={cd[k]}")
    return 0


sys.exit(main())
