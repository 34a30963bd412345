#!/usr/bin/env python3
"""Writes the seed inputs of one payload fuzz target into a folder: small, valid and near-valid
inputs, so that the fuzzer starts from the shapes that matter instead of finding them by chance."""
import os
import struct
import sys


def header(path, size):
    units = path.encode("utf-16-le")
    return units + b"\0" * (520 - len(units)) + struct.pack("<Q", size)


def container(entries, prefix=b"MZ\x90\0 executable", stated_size=None):
    body = b"".join(header(path, len(data) if stated_size is None else stated_size) + data
                    for path, data in entries)
    return prefix + body + b"\0" * 524 + struct.pack("<I", len(prefix))


SEEDS = {
    "container_format_fuzz": {
        "empty": container([]),
        "two": container([("js\\installparams.js", b'{"LANG":["en"]}'), ("images\\close.png", b"")]),
        "nested": container([("a\\b\\c.txt", b"abc"), ("Load.html", b"<html></html>")]),
        "traversal": container([("..\\x", b"x"), ("C:\\x", b"y")]),
        "forged_size": container([("a", b"A")], stated_size=0xFFFFFFF0),
    },
    "language_list_fuzz": {
        "shipped": b'var params = {"LANG":["en","fr","jp","de","it","nl"],"CH":"web"};',
        "blanks": b'{"LANG" :  [ "en" ] }',
        "plain": b'{"LANG":"en","CH":"web","V":[1]}',
        "bom": b'\xef\xbb\xbf{"LANG":["\xe6\x97\xa5","\xf0\x9f\x98\x80"]}',
    },
}


def main():
    target, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.get(target, {}).items():
        with open(os.path.join(folder, name), "wb") as seed:
            seed.write(data)


if __name__ == "__main__":
    main()
