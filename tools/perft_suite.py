#!/usr/bin/env python3
"""Runs every line of a perft suite through the engine binary at every listed
depth ("position fen ..." then "perft N", with UCI_Chess960 for ;960 lines)
and reports mismatches and the overall speed.

    tools/perft_suite.py [engine] [suite]
"""
import subprocess
import sys
import time

engine = sys.argv[1] if len(sys.argv) > 1 else "build/sable"
suite = sys.argv[2] if len(sys.argv) > 2 else "tests/data/perft.epd"

proc = subprocess.Popen([engine], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)


def send(line):
    proc.stdin.write(line + "\n")
    proc.stdin.flush()


checked = failed = nodes = 0
start = time.time()
chess960 = None
for number, line in enumerate(open(suite), 1):
    fields = [f.strip() for f in line.strip().split(";")]
    fen, rest = fields[0], fields[1:]
    is960 = "960" in rest
    if is960 != chess960:
        send("setoption name UCI_Chess960 value " + ("true" if is960 else "false"))
        chess960 = is960
    send("position fen " + fen)
    for field in rest:
        if not field.startswith("D"):
            continue
        depth, expected = field[1:].split()
        send("perft " + depth)
        while True:
            out = proc.stdout.readline()
            if not out:
                sys.exit("engine ended unexpectedly")
            if ", MNPS=" in out:
                break
        count = int(out.split(",")[0])
        checked += 1
        nodes += count
        if count != int(expected):
            failed += 1
            print(f"line {number} depth {depth}: got {count}, expected {expected}: {fen}")
send("quit")
proc.wait()
elapsed = time.time() - start
print(f"{checked} counts checked, {failed} failed, {nodes} leaves in {elapsed:.1f} s ({nodes / elapsed / 1e6:.1f} MNPS)")
sys.exit(1 if failed else 0)
