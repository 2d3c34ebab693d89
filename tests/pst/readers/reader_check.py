#!/usr/bin/python3
"""Holds one reader's dump (the JSON the pst-readers dumpers print) against what the test wrote.

Usage: reader_check.py EXPECTED.json DUMP.json READER   (READER: pypff, pffexport, readpst)
EXPECTED.json has the dump layout, except that bodies are the written text and attachments
name a file holding the written bytes. Each reader is checked on everything it can show:
  folders     pypff/pffexport: every folder with its item count; readpst: non-empty ones
  recipients  pffexport: recipient table (name + address, To/Cc/Bcc); pypff: display names
              (To/Cc/Bcc); readpst: whether To/Cc are there (it prints the display strings as
              unquoted headers the dumper cannot split back into names, and drops Bcc)
  attachments readpst leaves out 0-byte attachments (no data to write), so those are not
              expected from it
Subjects are unique per folder in the test files, so messages are matched by folder + subject.
Exit 0 when the reader saw what was written; otherwise the differences, one per line.
"""
import hashlib
import json
import os
import sys

sys.path.insert(0, os.environ.get("PST_READERS", "/work/shared/tools/pst-readers"))
import common  # noqa: E402


def body(text):
    s = common.norm_text(text)
    return None if not s else hashlib.sha256(s.encode("utf-8")).hexdigest()


def file_digest(path):
    h = hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
            size += len(chunk)
    return size, h.hexdigest()


def names(rs):
    return sorted((r.get("name") or "").strip("'\" ") for r in rs)


def addresses(rs):
    return sorted(((r.get("name") or ""), (r.get("email") or "").lower()) for r in rs)


def main():
    expected_path, dump_path, reader = sys.argv[1:4]
    want = json.load(open(expected_path, encoding="utf-8"))
    have = json.load(open(dump_path, encoding="utf-8"))
    diffs = []

    wf = {f["path"]: f["items"] for f in want["folders"] if reader != "readpst" or f["items"]}
    hf = {f["path"]: f["items"] for f in have["folders"] if reader != "readpst" or f["items"]}
    if wf != hf:
        for p in sorted(set(wf) | set(hf)):
            if wf.get(p) != hf.get(p):
                diffs.append("folder %r: wrote %s items, reader shows %s" % (p, wf.get(p), hf.get(p)))

    def key(m):
        return (m["folder"], m["subject"] or "")

    hm = {}
    for m in have["messages"]:
        if key(m) in hm:
            diffs.append("message %r listed twice" % (key(m),))
        hm[key(m)] = m
    if len(have["messages"]) != len(want["messages"]):
        diffs.append("wrote %d messages, reader shows %d" % (len(want["messages"]), len(have["messages"])))
    digests = {}
    for w in want["messages"]:
        label = "%s | %s" % key(w)
        h = hm.get(key(w))
        if h is None:
            diffs.append("%s: missing" % label)
            continue
        for f in ("sender_name", "sender_email"):
            if w[f] != h[f] and not (f == "sender_email" and (w[f] or "").lower() == (h[f] or "").lower()):
                diffs.append("%s: %s %r, reader %r" % (label, f, w[f], h[f]))
        kinds = {"pffexport": ("to", "cc", "bcc"), "pypff": ("to", "cc", "bcc"),
                 "readpst": ("to", "cc")}[reader]
        for k in kinds:
            if reader == "pffexport":
                same = addresses(w[k]) == addresses(h[k])
            elif reader == "pypff":
                same = names(w[k]) == names(h[k])
            else:
                same = bool(w[k]) == bool(h[k])
            if not same:
                diffs.append("%s: %s has %d recipients, reader %d (first %s / %s)" % (
                    label, k, len(w[k]), len(h[k]), w[k][:1], h[k][:1]))
        for f in ("body_text", "body_html"):
            if w[f] is None:
                continue  # readers may derive one body from the other
            got = (h[f] or {}).get("sha256")
            if body(w[f]) != got:
                diffs.append("%s: %s differs (wrote %d chars, reader %s)" % (
                    label, f, len(common.norm_text(w[f])), (h[f] or {}).get("len")))
        wa = []
        for a in w["attachments"]:
            if a["embedded"]:
                wa.append((a["name"], True, None, None))
            else:
                if a["file"] not in digests:
                    digests[a["file"]] = file_digest(a["file"])
                if reader == "readpst" and digests[a["file"]][0] == 0:
                    continue
                wa.append((a["name"], False) + digests[a["file"]])
        ha = [(a["name"], a["embedded"], a["size"] if not a["embedded"] else None,
               a["sha256"] if not a["embedded"] else None) for a in h["attachments"]]
        if sorted(wa, key=repr) != sorted(ha, key=repr):
            diffs.append("%s: attachments differ:\n   wrote  %s\n   reader %s" % (
                label, sorted(wa, key=repr), sorted(ha, key=repr)))
    for d in diffs[:60]:
        print(d)
    if diffs:
        print("%d difference(s) for %s" % (len(diffs), reader))
    return 1 if diffs else 0


if __name__ == "__main__":
    sys.exit(main())
