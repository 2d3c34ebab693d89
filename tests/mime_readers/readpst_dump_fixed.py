#!/usr/bin/python3
"""Runs the shared readpst_dump.py with two faults of that script worked around; each one
stops the whole dump.

- readpst writes non-ASCII attachment names as raw UTF-8 in Content-Disposition; Python's
  compat32 parser then returns an email.header.Header instead of a str, which the script
  splits. Here such headers come back as str.
- readpst passes the original headers through, and an encoded word in a charset Python does
  not know ("=?NONE?Q?...?=") makes make_header() raise LookupError. Here such words are read
  as Latin-1.

Usage: readpst_dump_fixed.py SCRIPT_DIR [readpst_dump.py arguments...]
"""
import codecs
import email.header
import email.message
import os
import runpy
import sys

_get = email.message.Message.get


def _get_str(self, name, failobj=None):
    value = _get(self, name, failobj)
    return str(value) if isinstance(value, email.header.Header) else value


_decode_header = email.header.decode_header


def _known_charset(charset):
    try:
        if charset:
            codecs.lookup(charset)
        return charset
    except LookupError:
        return "latin-1"


def _decode_header_known(header):
    return [(text, _known_charset(charset)) for text, charset in _decode_header(header)]


email.message.Message.get = _get_str
email.header.decode_header = _decode_header_known
script = os.path.join(sys.argv[1], "readpst_dump.py")
sys.argv = [script] + sys.argv[2:]
sys.path.insert(0, os.path.dirname(script))
runpy.run_path(script, run_name="__main__")
