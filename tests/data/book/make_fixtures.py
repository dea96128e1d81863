#!/usr/bin/env python3
"""Writes the small hand-made books of the book tests (run from this folder).

Each book holds entries for the start position and the position after e2e4,
whose keys are published check values. A move code is to-square (file, rank)
in bits 0-5, from-square in bits 6-11 and the promotion piece in bits 12-14.
"""
import struct

START = 0x463B96181691FC9C
AFTER_E4 = 0x823C9B50FD114196


def code(move, promotion=0):
    f1, r1, f2, r2 = ord(move[0]) - 97, int(move[1]) - 1, ord(move[2]) - 97, int(move[3]) - 1
    return (promotion << 12) | (r1 << 9) | (f1 << 6) | (r2 << 3) | f2


def entry(key, move, weight, promotion=0):
    return struct.pack(">QHHI", key, code(move, promotion), weight, 0)


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


good = entry(START, "e2e4", 10) + entry(START, "d2d4", 5) + entry(AFTER_E4, "e7e5", 7)
# Trailing bytes that are no whole entry.
write("cut.bin", good + b"\x46\x3b\x96\x18\x16\x91\xfc")
# Shorter than one entry.
write("short.bin", good[:15])
# The start position's entries after a larger key.
write("unsorted.bin", entry(AFTER_E4, "e7e5", 7) + entry(0xFFFFFFFFFFFFFFFF, "a2a3", 1) + entry(START, "e2e4", 10)
      + entry(START, "d2d4", 5) + entry(0x0000000000000001, "a2a3", 1))
# e2e5 is not a legal move at the start: no start-position entry may play.
write("illegal.bin", entry(START, "e2e4", 10) + entry(START, "e2e5", 10) + entry(AFTER_E4, "e7e5", 7))
# Weight 0 never plays; after e2e4 every entry has weight 0.
write("zero_weights.bin", entry(START, "e2e4", 0) + entry(START, "d2d4", 3) + entry(AFTER_E4, "e7e5", 0)
      + entry(AFTER_E4, "c7c5", 0))
# Promotion codes on a pawn push: 5 names no piece, 4 (queen) is no legal e2e4.
write("bad_promotion.bin", entry(START, "e2e4", 10, promotion=5) + entry(AFTER_E4, "e7e5", 7, promotion=4))
