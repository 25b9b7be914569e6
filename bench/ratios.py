#!/usr/bin/env python3
"""Prints the benchmark times and the table of ratios against the targets.

Reads the JSON written by qfx_bench (--benchmark_out_format=json). With
repetitions the fastest of each case is used (see load_times); targets are
judged on wall-clock time. The last line printed is
"targets met: K/N"; a target whose cases did not run (OpenCV missing, a
filter) is listed as skipped and left out of N.
"""
import json
import re
import sys

UNIT_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
BIG, SMALL = "3840x2160", "1920x1080"
FORMATS = ("byte", "short", "float")


def case_name(entry):
    # "outline/good/byte/3840x2160/min_time:0.250/real_time" -> the part
    # before the options Google Benchmark appends.
    name = entry.get("run_name", entry["name"])
    name = re.sub(r"/[a-z_]+:[^/]*", "", name)
    return re.sub(r"(/(real_time|manual_time|process_time))+$", "", name)


def load_times(path):
    """Per case, (wall ms, process CPU ms) of the best statistic present:
    the minimum of the repetitions (the least disturbed by other work),
    else the median, else the single run."""
    with open(path) as f:
        data = json.load(f)
    preference = {"min": 0, "median": 1, None: 2}
    best = {}
    for entry in data.get("benchmarks", []):
        if entry.get("error_occurred"):
            continue
        rank = preference.get(entry.get("aggregate_name"), None)
        if rank is None:
            continue
        name = case_name(entry)
        scale = UNIT_TO_MS[entry.get("time_unit", "ns")]
        times = (entry["real_time"] * scale, entry["cpu_time"] * scale)
        if name not in best or rank < best[name][0]:
            best[name] = (rank, times)
    return {name: times for name, (rank, times) in best.items()}


class Table:
    """Rows of targets. A target is judged on wall-clock time; the ratio
    of process CPU times is printed beside it, as a steadier view when
    other work shares the machine (it hides serial parts, though)."""

    def __init__(self, times):
        self.times = times
        self.rows = []

    def ratio(self, label, numerator, denominator, limit):
        """numerator / denominator must stay at or below limit."""
        t = self.times
        if numerator not in t or denominator not in t:
            self.rows.append((label, None, None, "<=", limit))
            return
        wall = t[numerator][0] / t[denominator][0]
        cpu = t[numerator][1] / t[denominator][1] if t[denominator][1] else None
        self.rows.append((label, wall, cpu, "<=", limit))

    def speedup(self, label, one, two, limit, serial=None):
        """one / two (minus a serial part of both) must reach limit."""
        t = self.times
        needed = [one, two] + ([serial] if serial else [])
        if any(n not in t for n in needed):
            self.rows.append((label, None, None, ">=", limit))
            return
        cut = t[serial][0] if serial else 0.0
        value = (t[one][0] - cut) / (t[two][0] - cut) if t[two][0] > cut else 0.0
        self.rows.append((label, value, None, ">=", limit))

    def print(self):
        met = counted = 0
        width = max(len(r[0]) for r in self.rows)
        print(f"{'target':<{width}}  {'ratio':>8}  {'limit':>8}  met  {'cpu ratio':>9}")
        for label, value, cpu, sense, limit in self.rows:
            if value is None:
                print(f"{label:<{width}}  {'-':>8}  {sense} {limit:>5.2f}  skipped")
                continue
            ok = value <= limit if sense == "<=" else value >= limit
            counted += 1
            met += ok
            cpu_text = f"{cpu:9.3f}" if cpu is not None else f"{'-':>9}"
            print(f"{label:<{width}}  {value:8.3f}  {sense} {limit:>5.2f}  "
                  f"{'yes' if ok else 'NO ':<3}  {cpu_text}")
        print(f"targets met: {met}/{counted}")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: ratios.py RESULTS.json")
    times = load_times(sys.argv[1])

    print(f"times (ms, fastest repetition)  {'wall':>10} {'process CPU':>12}")
    for name in sorted(times):
        wall, cpu = times[name]
        print(f"  {name:<48} {wall:10.3f} {cpu:12.3f}")
    print()

    table = Table(times)
    table.ratio(f"field/good vs peer/opencv_dt ({BIG})",
                f"field/good/{BIG}", f"peer/opencv_dt/{BIG}", 1.0)
    for quality, limit in (("draft", 4.0), ("good", 5.0), ("best", 6.0)):
        for fmt in FORMATS:
            table.ratio(f"outline/{quality}/{fmt} vs copy/{fmt}",
                        f"outline/{quality}/{fmt}/{BIG}", f"copy/{fmt}/{BIG}", limit)
    for kind in ("linear", "radial"):
        for fmt in FORMATS:
            table.ratio(f"gradient/{kind}/{fmt} vs copy/{fmt}",
                        f"gradient/{kind}/{fmt}/{BIG}", f"copy/{fmt}/{BIG}",
                        2.5 if fmt == "float" else 1.5)
    table.speedup("gradient/linear/byte: 1 thread / 2 threads",
                  f"gradient/linear/byte/{BIG}/threads1",
                  f"gradient/linear/byte/{BIG}", 1.7)
    # The outline's field is built once, on one thread, before the bands:
    # its pixel work is the render minus that build.
    table.speedup("outline/good/byte pixel work: 1 thread / 2 threads",
                  f"outline/good/byte/{BIG}/threads1",
                  f"outline/good/byte/{BIG}", 1.7, serial=f"field/good/{BIG}")
    table.ratio("outline/good/byte window256 vs whole frame",
                f"outline/good/byte/{BIG}/window256",
                f"outline/good/byte/{BIG}", 0.02)
    for case in ("outline/good/byte", "gradient/linear/byte", "field/good"):
        table.ratio(f"{case}: {BIG} vs {SMALL}",
                    f"{case}/{BIG}", f"{case}/{SMALL}", 4.3)
    table.print()


if __name__ == "__main__":
    main()
