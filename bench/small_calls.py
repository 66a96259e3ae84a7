"""Per-call cost of small tzcumfun calls, where the call's own work outweighs the scan.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/small_calls.py

Prints one JSON object: the median over 7 rounds of 5000 calls of each case, in microseconds. To
compare two builds, run it against each in turn, alternating several times, and compare medians.
"""

import json
import statistics
import time

import numpy as np

import tzcumfun as tz

rng = np.random.default_rng(1)
row = np.asfortranarray(rng.normal(size=(1, 10)))
vector = rng.normal(size=10)
matrix = rng.normal(size=(20, 30))
CASES = {
    "host form cumsum(a, 2), 1-by-10": lambda: tz.cumsum(row, 2),
    "cumsum(v), 10 elements": lambda: tz.cumsum(vector),
    "cumsum(v, axis=0, reverse=True)": lambda: tz.cumsum(vector, axis=0, reverse=True),
    "cumsum(c, 1, 'rev', 'omitnan'), C 20-by-30": lambda: tz.cumsum(matrix, 1, "rev", "omitnan"),
    "cumsum(v, np.int64(2))": lambda: tz.cumsum(vector, np.int64(2)),
    "np.cumsum(v)": lambda: np.cumsum(vector),
}


def main():
    medians = {}
    for name, call in CASES.items():
        call()
        rounds = []
        for _ in range(7):
            start = time.perf_counter()
            for _ in range(5000):
                call()
            rounds.append((time.perf_counter() - start) / 5000 * 1e6)
        medians[name] = statistics.median(rounds)
    print(json.dumps(medians))


if __name__ == "__main__":
    main()
