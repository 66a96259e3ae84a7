"""Draws the size sweep of cumfun_bench's JSON results: one PNG per operation family.

    /usr/bin/python3 bench/plot_bench.py build/bench/cumfun_bench.json build/bench

Each picture shows element throughput against the bytes a call reads and writes, one line per
layout and class, with the reused-array streaming loop (the memory ceiling, converted to elements
of 4 and 8 bytes) and the rate of one dependent chain of the operation (the latency ceiling of a
single vector) as reference lines.
"""

import argparse
import json
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)

FAMILIES = ("cumsum", "cumprod", "cummin", "cummax")
CLASSES = {"double": ("tab:blue", 8), "single": ("tab:orange", 4), "int32": ("tab:green", 4),
           "int64": ("tab:red", 8)}
LAYOUTS = {"contiguous": "-", "lastdim": "--", "page": ":"}


def rates(path):
    """Median items and bytes per second by benchmark name (repetitions) or the one run."""
    with open(path, encoding="utf-8") as source:
        runs = json.load(source)["benchmarks"]
    found = {}
    for run in runs:
        if run.get("error_occurred") or "items_per_second" not in run:
            continue
        # The library appends settings (min_time:..., repeats:..., real_time) to the name.
        name = "/".join(part for part in run["run_name"].split("/")
                        if ":" not in part and part != "real_time")
        median = run.get("run_type") == "aggregate" and run.get("aggregate_name") == "median"
        if median or (run.get("run_type") == "iteration" and name not in found):
            found[name] = (run["items_per_second"], run["bytes_per_second"])
    return found


def size_label(size):
    return f"{size >> 20} MiB" if size >= 1 << 20 else f"{size >> 10} KiB"


def draw(family, found, folder):
    figure, axes = plt.subplots(figsize=(12, 6.5))
    sizes = set()
    for element, (colour, _) in CLASSES.items():
        for layout, style in LAYOUTS.items():
            prefix = f"sweep/{family}/{element}/{layout}/"
            points = sorted((int(name[len(prefix):]), rate[0]) for name, rate in found.items()
                            if name.startswith(prefix))
            if not points:
                continue
            sizes.update(size for size, _ in points)
            axes.plot([p[0] for p in points], [p[1] * 1e-9 for p in points], style, color=colour,
                      marker="o", markersize=3, label=f"{element}, {layout}")
    if not sizes:
        plt.close(figure)
        return None
    stream = sorted((int(name.rsplit("/", 1)[1]), rate[1]) for name, rate in found.items()
                    if name.startswith("sweep/stream/allcores/reused/"))
    for element_bytes, style in ((8, "-"), (4, "--")):
        axes.plot([s for s, _ in stream], [b / (2 * element_bytes) * 1e-9 for _, b in stream],
                  style, color="black", linewidth=2.5, alpha=0.35,
                  label=f"stream ceiling, {element_bytes}-byte elements (all cores, reused array)")
    chain = found.get(f"chain/{family}/double/cache")
    if chain:
        axes.axhline(chain[0] * 1e-9, color="grey", linestyle="-.",
                     label="latency ceiling: one dependent chain of doubles, one core")
    ticks = sorted(sizes)
    axes.set_xscale("log", base=2)
    axes.set_yscale("log")
    axes.set_xticks(ticks, [size_label(size) for size in ticks], rotation=45)
    axes.minorticks_off()
    axes.set_xlabel("bytes read and written per call (input + output)")
    axes.set_ylabel("elements per second (billions)")
    axes.set_title(f"{family} through the gateway, repeated calls with the host cache on "
                   "(medians, 2-core machine)")
    axes.grid(True, which="major", alpha=0.3)
    axes.legend(fontsize=7, loc="center left", bbox_to_anchor=(1.01, 0.5))
    figure.tight_layout()
    target = pathlib.Path(folder) / f"{family}.png"
    figure.savefig(target, dpi=110)
    plt.close(figure)
    return target


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", help="cumfun_bench's --benchmark_out JSON file")
    parser.add_argument("folder", help="where the PNG files go")
    options = parser.parse_args()
    found = rates(options.results)
    for family in FAMILIES:
        target = draw(family, found, options.folder)
        print(f"{family}: {target if target else 'no sweep results'}")


if __name__ == "__main__":
    main()
