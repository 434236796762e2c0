#!/usr/bin/env python3
"""Writes the seed volumes of fuzz_extract into the folder named on the command line."""
import os
import struct
import sys


def record(name: bytes, data: bytes) -> bytes:
    return struct.pack(">I", len(name) + 1) + name + b"\0" + struct.pack(">I", len(data)) + data


SEEDS = {
    "empty": b"",
    "one": record(b"readme.txt", b"hello"),
    "folders": record(b"voice\\en\\a.ogg", b"a" * 300) + record(b"voice/jp/b.ogg", b"b"),
    "empty_file": record(b"empty.dat", b""),
    "side_files": record(b"Bin\\Launch.INI", b"x") + record(b"BIN/DEN.DAT", b"y") + record(b"./bin/den.dat", b"z"),
    "duplicate": record(b"a.txt", b"first") + record(b"a.txt", b"second"),
    "earlier_file": record(b"keep.txt", b"replaced"),
    "inner_zero": record(b"keep.txt\0tail", b"data"),
    "long_name": record(b"n" * 4095, b""),
    "stray": record(b"a", b"1") + b"\x00\x01",
    "cut_in_data": record(b"part.bin", b"p" * 100)[:-40],
    "cut_in_name": struct.pack(">I", 10) + b"abc",
    "no_zero": struct.pack(">I", 3) + b"abc" + struct.pack(">I", 0),
    "too_long": struct.pack(">I", 4097) + b"n" * 4096 + b"\0" + struct.pack(">I", 0),
    "dot_dot": record(b"..\\x.txt", b"escape") + record(b"a\\.. \\y", b"") + record(b"C:\\z", b""),
    "empty_name": record(b"", b"x"),
    "utf8": record("語音\\c.ogg".encode("utf-8"), b"c"),
}


def main() -> None:
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
