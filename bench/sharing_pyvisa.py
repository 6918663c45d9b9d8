#!/usr/bin/python3
# One PyVISA controller (Debian's python3-pyvisa and python3-pyvisa-py) doing configure-then-read
# sequences against the meter of bench_sharing, straight or through the gateway.
# Usage: sharing_pyvisa.py PORT SEQUENCES MAX_GAP_MS FIRST_MODE
# Prints: the median ms per sequence, the wrong readings, the sequences, the late sequences (READ?
# written 5 ms or more after CONF began) and the wrong readings among them.
import random
import statistics
import sys
import time

import pyvisa

port, sequences, max_gap_ms, first = (int(a) for a in sys.argv[1:5])
modes = ["VOLT", "CURR", "RES"]
rng = random.Random(first)
meter = pyvisa.ResourceManager("@py").open_resource(
    f"TCPIP::127.0.0.1::{port}::SOCKET",
    read_termination="\n",
    write_termination="\n",
    timeout=2000,
)
times, wrong, late, wrong_late = [], 0, 0, 0
for n in range(sequences):
    mode = modes[(first + n) % len(modes)]
    start = time.perf_counter()
    meter.write(f"CONF:{mode}")
    if max_gap_ms:
        time.sleep(rng.uniform(0, max_gap_ms) / 1000)
    # What query() does, with the time the read left in between.
    meter.write("READ?")
    is_late = time.perf_counter() - start >= 0.005
    try:
        reading = meter.read().strip()
    except pyvisa.errors.VisaIOError:
        reading = ""
    times.append((time.perf_counter() - start) * 1000)
    is_wrong = not reading.startswith(mode + ",")
    wrong += is_wrong
    late += is_late
    wrong_late += is_wrong and is_late
meter.close()
print(f"{statistics.median(times):.3f} {wrong} {sequences} {late} {wrong_late}")
