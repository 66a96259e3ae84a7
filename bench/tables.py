"""Markdown tables of one benchmark run, from the JSON files `./dev bench` leaves in build/bench/.

    /usr/bin/python3 bench/tables.py build/bench

Prints the gateway cases of cumfun_bench.json against the streaming loops over the same bytes
(with the host cache off, against the fresh-array loop, which every fresh result also pays for;
with it on, against the reused-array loop, the stable memory ceiling), the one-vector scans
against the dependent chain of their operation,
the same cases once per instruction level from level_<level>.json (one run each with
TZCUMFUN_CPU=<level>), each case of numpy_compare.json and each of peer_compare.json. A file that
is missing is left out.
"""

import argparse
import json
import pathlib

from plot_bench import rates

SIZES = ("cache", "memory")


def fraction(found, name, reference):
    if name not in found or reference not in found or found[reference][1] <= 0:
        return "-"
    return f"{found[name][1] / found[reference][1]:.2f}"


def gateway_table(found):
    """Each gateway case at 256 MiB, fresh results (host cache off) against the fresh-array loop
    and repeated calls (cache on) against the reused-array loop; one vector against its chain."""
    cases = []
    for name in found:
        parts = name.split("/")
        if len(parts) == 5 and parts[0].startswith("cum") and parts[:3] not in cases:
            cases.append(parts[:3])
    lines = ["| case | GB/s in cache | cache off: GB/s at 256 MiB | of fresh | cache on: GB/s at "
             "256 MiB | of reused | of its chain (off / on) |",
             "|---|---|---|---|---|---|---|"]
    for op, element, layout in cases:
        case = f"{op}/{element}/{layout}"
        off, on = f"{case}/memory/hostcache-off", f"{case}/memory/hostcache-on"
        gbs = [f"{found[name][1] * 1e-9:.2f}" if name in found else "-"
               for name in (f"{case}/cache/hostcache-on", off, on)]
        chains = "-"
        if layout == "vector":
            chains = " / ".join(fraction(found, name, f"chain/{op}/{element}/memory")
                                for name in (off, on))
        lines.append(f"| `{case}` | {gbs[0]} | {gbs[1]} | "
                     f"{fraction(found, off, 'stream/allcores/fresh/memory')} | {gbs[2]} | "
                     f"{fraction(found, on, 'stream/allcores/reused/memory')} | {chains} |")
    return "\n".join(lines)


LEVELS = ("baseline", "v3", "v4")


def level_table(by_level):
    """Each case at 256 MiB with the host cache on, one column per instruction level: the
    contiguous and page layouts against the reused-array loop, the last dimension against the loop
    walking memory in its order, one vector against its operation's chain."""
    levels = [level for level in LEVELS if level in by_level]
    cases = []
    for found in by_level.values():
        for name in found:
            parts = name.split("/")
            if (len(parts) == 5 and parts[0].startswith("cum") and parts[3] == "memory"
                    and parts[:3] not in cases):
                cases.append(parts[:3])
    lines = ["| case | of | " + " | ".join(levels) + " |",
             "|---|---|" + "---|" * len(levels)]
    for op, element, layout in sorted(cases, key=lambda c: (c[2], c[0], c[1])):
        reference = {"lastdim": ("walk", "stream/allcores/reused-lastdim/memory"),
                     "vector": ("chain", f"chain/{op}/{element}/memory")}.get(
                         layout, ("reused", "stream/allcores/reused/memory"))
        name = f"{op}/{element}/{layout}/memory/hostcache-on"
        row = [fraction(by_level[level], name, reference[1]) for level in levels]
        lines.append(f"| `{op}/{element}/{layout}` | {reference[0]} | " + " | ".join(row) + " |")
    return "\n".join(lines)


def peer_table(results):
    def shown(seconds, loops):
        if seconds is None:
            return "-"
        return f"{seconds * 1e6:.2f} µs" if loops > 1 else f"{seconds * 1e3:.2f} ms"

    lines = [f"{results['cpus']} CPUs, load {results['load_before'][0]:.2f} before and "
             f"{results['load_after'][0]:.2f} after, medians of {results['repeat']} interleaved "
             f"rounds; versions {results['versions']}.", "",
             "| case | tzcumfun plain | fastest plain peer (ours ahead by) | tzcumfun `out=` "
             "| fastest peer with `out=` (ours ahead by) |", "|---|---|---|---|---|"]
    for case in results["cases"]:
        loops, seconds, row = case["loops"], case["seconds"], [case["case"]]
        for mode in ("plain", "out"):
            peer, ahead = case[f"fastest_{mode}_peer"], case[f"ahead_of_fastest_{mode}_peer"]
            row.append(shown(seconds[f"tzcumfun/{mode}"], loops))
            row.append(f"{peer} {shown(seconds.get(f'{peer}/{mode}'), loops)} ({ahead:.2f}x)"
                       if peer and ahead else "-")
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)


def numpy_table(results):
    lines = [f"NumPy {results['numpy']}, {results['cpus']} CPUs, medians of {results['repeat']} "
             "interleaved pairs.", "",
             "| case | tzcumfun | NumPy | NumPy time / ours |", "|---|---|---|---|"]
    for case in results["cases"]:
        ours, theirs = case["tzcumfun_seconds"], case["numpy_seconds"]
        unit, scale = ("µs", 1e6) if theirs < 1e-3 else ("ms", 1e3)
        lines.append(f"| {case['case']} | {ours * scale:.2f} {unit} | {theirs * scale:.2f} {unit} "
                     f"| {case['numpy_over_tzcumfun']:.2f}x |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", type=pathlib.Path, help="where the run's JSON files are")
    folder = parser.parse_args().folder
    sections = []
    if (folder / "cumfun_bench.json").exists():
        sections.append(gateway_table(rates(folder / "cumfun_bench.json")))
    by_level = {level: rates(folder / f"level_{level}.json") for level in LEVELS
                if (folder / f"level_{level}.json").exists()}
    if by_level:
        sections.append(level_table(by_level))
    if (folder / "numpy_compare.json").exists():
        with open(folder / "numpy_compare.json", encoding="utf-8") as source:
            sections.append(numpy_table(json.load(source)))
    if (folder / "peer_compare.json").exists():
        with open(folder / "peer_compare.json", encoding="utf-8") as source:
            sections.append(peer_table(json.load(source)))
    print("\n\n".join(sections))


if __name__ == "__main__":
    main()
