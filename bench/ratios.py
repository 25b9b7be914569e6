#!/usr/bin/env python3
"""Prints the benchmark times and the table of ratios against the targets.

Reads the JSON written by qfx_bench (--benchmark_out_format=json). With
repetitions the fastest of each case is used (see load_results); targets
are judged on wall-clock time, a render against the copy on the ratio
measured with a copy between its renders (see Table.ratio). The last line printed is
"targets met: K/N"; a target whose cases did not run (OpenCV missing, a
filter) is listed as skipped and left out of N.
"""
import json
import re
import sys

UNIT_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
BIG, SMALL = "3840x2160", "1920x1080"
FORMATS = ("byte", "short", "float")
PIXEL_BYTES = {"byte": 4, "short": 8, "float": 16}


def case_name(entry):
    # "outline/good/byte/3840x2160/min_time:0.250/real_time" -> the part
    # before the options Google Benchmark appends.
    name = entry.get("run_name", entry["name"])
    name = re.sub(r"/[a-z_]+:[^/]*", "", name)
    return re.sub(r"(/(real_time|manual_time|process_time))+$", "", name)


def is_memory(name):
    return name.startswith("memory/")


def load_results(path):
    """Per timed case, (wall ms, process CPU ms) of the best statistic
    present: the minimum of the repetitions (the least disturbed by other
    work), else the median, else the single run. Per memory case, its
    counters (MB) from the median, else the single run: other work does
    not only ever add there."""
    with open(path) as f:
        data = json.load(f)
    time_preference = {"min": 0, "median": 1, None: 2}
    memory_preference = {"median": 0, None: 1}
    best, counters = {}, {}
    for entry in data.get("benchmarks", []):
        if entry.get("error_occurred"):
            continue
        name = case_name(entry)
        aggregate = entry.get("aggregate_name")
        if "to_copy" in entry:
            # A render measured against a copy between its renders: the
            # median repetition's ratio, kept with the memory counters.
            rank = memory_preference.get(aggregate, None)
            key = "paired/" + name
            if rank is not None and (key not in counters or rank < counters[key][0]):
                counters[key] = (rank, {"to_copy": entry["to_copy"]})
        if is_memory(name):
            rank = memory_preference.get(aggregate, None)
            values = {k: v for k, v in entry.items() if k.endswith("_MB")}
            if rank is not None and (name not in counters or rank < counters[name][0]):
                counters[name] = (rank, values)
            continue
        rank = time_preference.get(aggregate, None)
        if rank is None:
            continue
        scale = UNIT_TO_MS[entry.get("time_unit", "ns")]
        times = (entry["real_time"] * scale, entry["cpu_time"] * scale)
        if name not in best or rank < best[name][0]:
            best[name] = (rank, times)
    return ({name: times for name, (rank, times) in best.items()},
            {name: values for name, (rank, values) in counters.items()})


class Table:
    """Rows of targets. A target is judged on wall-clock time. Beside it,
    as other views: the ratio of process CPU times (steadier when other
    work shares the machine, though it hides serial parts), and for a
    render judged against a copy made between its renders, the ratio of
    the two cases run apart."""

    def __init__(self, times, memory):
        self.times = times
        self.memory = memory
        self.rows = []

    def ratio(self, label, numerator, denominator, limit, floor=None):
        """numerator / denominator must stay at or below limit (None: only
        reported). A case measured against the copy side by side (counter
        to_copy) is judged on that paired ratio: the render and the copy
        then meet the same state of memory, each starting cold, as a
        host's frames do. floor, when given, names the case of the same
        memory traffic with no arithmetic: the aside then says how many
        times that bound the render takes, a figure that does not move
        with the copy's speed."""
        t = self.times
        if numerator not in t or denominator not in t:
            self.rows.append((label, None, "", "<=", limit))
            return
        wall = t[numerator][0] / t[denominator][0]
        aside = []
        if t[denominator][1]:
            aside.append(f"cpu {t[numerator][1] / t[denominator][1]:.3f}")
        paired = self.memory.get("paired/" + numerator)
        if paired and denominator.startswith("copy/"):
            aside.append(f"apart {wall:.3f}")
            wall = paired["to_copy"]
            bound = self.memory.get("paired/" + floor) if floor else None
            if bound and bound.get("to_copy"):
                aside.append(f"{wall / bound['to_copy']:.2f}x its memory bound")
        self.rows.append((label, wall, ", ".join(aside), "<=", limit))

    def speedup(self, label, one, two, limit, serial=None):
        """one / two must reach limit. serial, when given, names the part
        of each to take off first: (part of one, part of two), each
        measured at its side's thread count."""
        t = self.times
        needed = [one, two] + (list(serial) if serial else [])
        if any(n not in t for n in needed):
            self.rows.append((label, None, "", ">=", limit))
            return
        cut_one, cut_two = (t[serial[0]][0], t[serial[1]][0]) if serial else (0.0, 0.0)
        value = (t[one][0] - cut_one) / (t[two][0] - cut_two) if t[two][0] > cut_two else 0.0
        self.rows.append((label, value, "", ">=", limit))

    def fields(self, label, case, counter, limit):
        """A memory case's counter, in fields of its frame, must stay at or
        below limit."""
        m = self.memory.get(case)
        if not m or counter not in m or not m.get("field_MB"):
            self.rows.append((label, None, "", "<=", limit))
            return
        self.rows.append((label, m[counter] / m["field_MB"], "", "<=", limit))

    def print(self):
        met = counted = 0
        width = max(len(r[0]) for r in self.rows)
        print(f"{'target':<{width}}  {'ratio':>8}  {'limit':>8}  met  aside")
        for label, value, aside, sense, limit in self.rows:
            if value is None:
                limit_text = f"{sense} {limit:>5.2f}" if limit is not None else f"{'-':>8}"
                print(f"{label:<{width}}  {'-':>8}  {limit_text}  skipped")
                continue
            if limit is None:
                print(f"{label:<{width}}  {value:8.3f}  {'-':>8}  {'-':<3}  {aside}")
                continue
            ok = value <= limit if sense == "<=" else value >= limit
            counted += 1
            met += ok
            print(f"{label:<{width}}  {value:8.3f}  {sense} {limit:>5.2f}  "
                  f"{'yes' if ok else 'NO ':<3}  {aside}")
        print(f"targets met: {met}/{counted}")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: ratios.py RESULTS.json")
    times, memory = load_results(sys.argv[1])

    print(f"times (ms, fastest repetition)  {'wall':>10} {'process CPU':>12}")
    for name in sorted(times):
        wall, cpu = times[name]
        print(f"  {name:<48} {wall:10.3f} {cpu:12.3f}")
    print()
    if any(not n.startswith("paired/") for n in memory):
        # render: peak resident memory of one render beyond the process at
        # rest with its images, no field block kept from before.
        # instances64: resident after 64 instances rendered one after
        # another (held), then after a purge-caches action (purged).
        print("memory (MB, median repetition)")
        for name in sorted(n for n in memory if not n.startswith("paired/")):
            values = "  ".join(f"{k[:-3]} {v:8.1f}" for k, v in sorted(memory[name].items()))
            print(f"  {name:<40} {values}")
        print()

    table = Table(times, memory)
    table.ratio(f"field/good vs peer/opencv_dt ({BIG})",
                f"field/good/{BIG}", f"peer/opencv_dt/{BIG}", 1.0)
    # The whole effect against the same outline made of OpenCV's calls.
    table.ratio(f"outline/good/byte vs peer/opencv_outline ({BIG})",
                f"outline/good/byte/{BIG}", f"peer/opencv_outline/{BIG}", 1.0)
    table.ratio(f"outline/best/byte vs peer/opencv_outline ({BIG})",
                f"outline/best/byte/{BIG}", f"peer/opencv_outline/{BIG}", None)
    # Good's and Best's memory bound is traffic/outline; Draft, with no
    # backward sweep, moves less and has no measured bound of its own.
    for quality, limit in (("draft", 4.0), ("good", 5.0), ("best", 6.0)):
        for fmt in FORMATS:
            table.ratio(f"outline/{quality}/{fmt} vs copy/{fmt}",
                        f"outline/{quality}/{fmt}/{BIG}", f"copy/{fmt}/{BIG}", limit,
                        floor=None if quality == "draft" else f"traffic/outline/{fmt}/{BIG}")
    # What memory alone costs each effect: its passes over the source, the
    # field and the output, written by ordinary stores, with no arithmetic
    # (traffic/...), against the copy. Where an effect's ratio is far above
    # its bound, its arithmetic holds it up; where near, memory does.
    for fmt in FORMATS:
        pixel = PIXEL_BYTES[fmt]
        table.ratio(f"memory bound: outline {3 * pixel + 16} B/px vs copy "
                    f"{2 * pixel} B/px, {fmt}",
                    f"traffic/outline/{fmt}/{BIG}", f"copy/{fmt}/{BIG}", None)
        table.ratio(f"memory bound: gradient {2 * pixel} B/px vs copy "
                    f"{2 * pixel} B/px, {fmt}",
                    f"traffic/gradient/{fmt}/{BIG}", f"copy/{fmt}/{BIG}", None)
    for kind in ("linear", "radial"):
        for fmt in FORMATS:
            table.ratio(f"gradient/{kind}/{fmt} vs copy/{fmt}",
                        f"gradient/{kind}/{fmt}/{BIG}", f"copy/{fmt}/{BIG}",
                        2.5 if fmt == "float" else 1.5,
                        floor=f"traffic/gradient/{fmt}/{BIG}")
    table.speedup("gradient/linear/byte: 1 thread / 2 threads",
                  f"gradient/linear/byte/{BIG}/threads1",
                  f"gradient/linear/byte/{BIG}", 1.7)
    # The outline's field is built once per render before the bands, on as
    # many threads as the render has: its pixel work is the render minus
    # the field built at the render's own thread count.
    table.speedup("outline/good/byte pixel work: 1 thread / 2 threads",
                  f"outline/good/byte/{BIG}/threads1",
                  f"outline/good/byte/{BIG}", 1.7,
                  serial=(f"field/good/{BIG}", f"field/good/{BIG}/threads2"))
    table.speedup("outline/good/byte whole render: 1 thread / 2 threads",
                  f"outline/good/byte/{BIG}/threads1",
                  f"outline/good/byte/{BIG}", None)
    table.ratio("outline/good/byte window256 vs whole frame",
                f"outline/good/byte/{BIG}/window256",
                f"outline/good/byte/{BIG}", 0.02)
    for case in ("outline/good/byte", "gradient/linear/byte", "field/good"):
        table.ratio(f"{case}: {BIG} vs {SMALL}",
                    f"{case}/{BIG}", f"{case}/{SMALL}", 4.3)
    # Field memory follows the renders running, not the instances alive.
    instances = f"memory/instances64/byte/{BIG}"
    table.fields("outline: resident after 64 instances' renders, in fields",
                 instances, "held_MB", 2.0)
    table.fields("outline: resident after a purge, in fields", instances, "purged_MB", 0.25)
    table.print()


if __name__ == "__main__":
    main()
