"""Markdown tables of one benchmark run, from the JSON files `./dev bench` leaves in build/bench/.

    /usr/bin/python3 bench/tables.py build/bench

Prints the gateway cases of cumfun_bench.json against the streaming loops over the same bytes
(the fresh-array loop, which every call's fresh result also pays for, and the reused-array loop,
the stable memory ceiling), the one-vector scans against the dependent chain of their operation,
and each case of numpy_compare.json. A file that is missing is left out.
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
    cases = sorted({name.rsplit("/", 1)[0] for name in found
                    if name.count("/") == 3 and name.split("/")[0].startswith("cum")},
                   key=lambda case: list(found).index(f"{case}/cache") if f"{case}/cache" in found
                   else len(found))
    lines = ["| case | GB/s in cache | of reused | GB/s at 256 MiB | of fresh | of reused "
             "| of its chain (cache / 256 MiB) |",
             "|---|---|---|---|---|---|---|"]
    for case in cases:
        row = [f"`{case}`"]
        for size in SIZES:
            name = f"{case}/{size}"
            row.append(f"{found[name][1] * 1e-9:.2f}" if name in found else "-")
            if size == "memory":
                row.append(fraction(found, name, f"stream/allcores/fresh/{size}"))
            row.append(fraction(found, name, f"stream/allcores/reused/{size}"))
        chains = "-"
        if "/vector" in case:
            op = case.split("/")[0]
            chains = " / ".join(fraction(found, f"{case}/{size}", f"chain/{op}/double/{size}")
                                for size in SIZES)
        lines.append("| " + " | ".join(row + [chains]) + " |")
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
    if (folder / "numpy_compare.json").exists():
        with open(folder / "numpy_compare.json", encoding="utf-8") as source:
            sections.append(numpy_table(json.load(source)))
    print("\n\n".join(sections))


if __name__ == "__main__":
    main()
