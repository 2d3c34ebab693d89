#!/usr/bin/env python3
"""Checks what an independent reader sees after an append against what it saw before.

usage: reader_delta.py BEFORE.json AFTER.json ADDED.json
ADDED.json lists the appended messages: [{"folder": ..., "subject": ..., "attachments": [names]}]
(attachment order is not compared: readpst lists them in its own order).
Every message read before must be read again unchanged; the new ones are exactly ADDED; each
folder's item count grows by what was added to it; folders that appear are added ones or empty.
Prints what differs and exits 1, else exits 0.
"""
import collections
import json
import sys


def key(m):
    return json.dumps(m, sort_keys=True)


def main():
    before, after, added = (json.load(open(p, encoding="utf-8")) for p in sys.argv[1:4])
    problems = []
    old = collections.Counter(key(m) for m in before["messages"])
    new = collections.Counter(key(m) for m in after["messages"])
    lost = old - new
    for k in list(lost)[:5]:
        problems.append("changed or lost: " + k[:300])
    appeared = new - old
    got = collections.Counter(
        (m["folder"], m["subject"], tuple(sorted(a["name"] for a in m["attachments"])))
        for m in (json.loads(k) for k in appeared.elements()))
    want = collections.Counter(
        (m["folder"], m["subject"], tuple(sorted(m["attachments"]))) for m in added)
    for k in list((want - got))[:5]:
        problems.append("missing: %r" % (k,))
    for k in list((got - want))[:5]:
        problems.append("unexpected: %r" % (k,))
    per_folder = collections.Counter(m["folder"] for m in added)
    old_items = {f["path"]: f["items"] for f in before["folders"]}
    new_items = {f["path"]: f["items"] for f in after["folders"]}
    for path, items in old_items.items():
        if new_items.get(path) != items + per_folder.get(path, 0):
            problems.append("folder %r: %r items, expected %d" %
                            (path, new_items.get(path), items + per_folder.get(path, 0)))
    for path, items in new_items.items():
        if path not in old_items and items != per_folder.get(path, 0):
            problems.append("new folder %r: %d items, expected %d" %
                            (path, items, per_folder.get(path, 0)))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
