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
HUGE, BIG, SMALL = "7680x4320", "3840x2160", "1920x1080"
HUGE_PIXELS = 7680 * 4320
FORMATS = ("byte", "short", "float")
PIXEL_BYTES = {"byte": 4, "short": 8, "float": 16}
# The outline's least memory traffic: its field is built by strips that
# stay in the cache, so what must cross memory is the source read once and
# the output written, as for the gradient. (traffic/outline is the same
# with a whole-frame field, written, swept back and read: what the strips
# save, reported beside.)
OUTLINE_FLOOR = "traffic/gradient"


def OUTLINE_FLOOR_BYTES(pixel):
    return 2 * pixel


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
    context = data.get("context", {})
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
                counters[key] = (rank, {"to_copy": entry["to_copy"],
                                        "copy_GBps": entry.get("copy_GBps")})
        if "copy_GBps" in entry and "to_copy" not in entry:
            rank = memory_preference.get(aggregate, None)
            key = "bandwidth/" + name
            if rank is not None and (key not in counters or rank < counters[key][0]):
                counters[key] = (rank, {"copy_GBps": entry["copy_GBps"]})
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
            {name: values for name, (rank, values) in counters.items()},
            context.get("mhz_per_cpu"))


class Table:
    """Rows of targets. A target is judged on wall-clock time. Beside it,
    as other views: the ratio of process CPU times (steadier when other
    work shares the machine, though it hides serial parts), and for a
    render judged against a copy made between its renders, the ratio of
    the two cases run apart."""

    def __init__(self, times, memory, mhz=None):
        self.times = times
        self.memory = memory
        self.mhz = mhz
        self.rows = []

    def ratio(self, label, numerator, denominator, limit, floor=None,
              floor_bytes=None, pixels=None):
        """numerator / denominator must stay at or below limit (None: only
        reported). A case measured against the copy side by side (counter
        to_copy) is judged on that paired ratio: the render and the copy
        then meet the same state of memory, each starting cold, as a
        host's frames do. Beside it, the bandwidth the paired copies got.
        floor, when given, names the case of the same memory traffic with
        no arithmetic (floor_bytes a pixel): the aside then gives that
        floor as a ratio to the copy, and the arithmetic that remains
        above it: the render's process CPU time less the floor's, in
        cycles per pixel (pixels of the frame) at the machine's clock."""
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
            if paired.get("copy_GBps"):
                aside.insert(0, f"copy {paired['copy_GBps']:.1f} GB/s")
            wall = paired["to_copy"]
            bound = self.memory.get("paired/" + floor) if floor else None
            if bound and bound.get("to_copy"):
                text = f"floor {bound['to_copy']:.2f}x"
                if floor_bytes:
                    text += f" ({floor_bytes} B/px)"
                aside.append(text)
                if self.mhz and pixels and floor in t and t[numerator][1] > 0:
                    extra_ms = max(0.0, t[numerator][1] - t[floor][1])
                    cycles = extra_ms * 1e-3 * self.mhz * 1e6 / pixels
                    aside.append(f"arithmetic {cycles:.1f} cycles/px")
        self.rows.append((label, wall, ", ".join(aside), "<=", limit))

    def megabytes(self, label, case, counter, limit):
        """A memory case's counter, in MB, must stay at or below limit."""
        m = self.memory.get(case)
        if not m or counter not in m:
            self.rows.append((label, None, "", "<=", limit))
            return
        self.rows.append((label, m[counter], "MB", "<=", limit))

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
    times, memory, mhz = load_results(sys.argv[1])

    print(f"times (ms, fastest repetition)  {'wall':>10} {'process CPU':>12}")
    for name in sorted(times):
        wall, cpu = times[name]
        print(f"  {name:<48} {wall:10.3f} {cpu:12.3f}")
    print()
    # The copy timed on its own is not printed: the ratios are judged on
    # the copies paired with each case, and two answers to how fast memory
    # was would only disagree.
    plain = sorted(n for n in memory
                   if not n.startswith(("paired/", "bandwidth/")))
    if plain:
        # render: peak resident memory of one render beyond the process at
        # rest with its images, no field block kept from before.
        # instances64: resident after 64 instances rendered one after
        # another (held), then after a purge-caches action (purged).
        print("memory (MB, median repetition)")
        for name in plain:
            values = "  ".join(f"{k[:-3]} {v:8.1f}" for k, v in sorted(memory[name].items()))
            print(f"  {name:<40} {values}")
        print()

    table = Table(times, memory, mhz)
    # Against a copy of the same frame at 8K, each render paired with its
    # copy and both from cold caches.
    outline_limits = {"draft": (3.0, 2.5, 2.0), "good": (4.0, 3.0, 2.5),
                      "best": (5.0, 3.5, 3.0)}
    for quality, limits in outline_limits.items():
        for fmt, limit in zip(FORMATS, limits):
            pixel = PIXEL_BYTES[fmt]
            table.ratio(f"outline/{quality}/{fmt} vs copy/{fmt}",
                        f"outline/{quality}/{fmt}/{HUGE}", f"copy/{fmt}/{HUGE}",
                        limit, floor=f"{OUTLINE_FLOOR}/{fmt}/{HUGE}",
                        floor_bytes=OUTLINE_FLOOR_BYTES(pixel),
                        pixels=HUGE_PIXELS)
    for kind in ("linear", "radial"):
        for fmt, limit in zip(FORMATS, (1.5, 1.3, 1.2)):
            table.ratio(f"gradient/{kind}/{fmt} vs copy/{fmt}",
                        f"gradient/{kind}/{fmt}/{HUGE}", f"copy/{fmt}/{HUGE}",
                        limit, floor=f"traffic/gradient/{fmt}/{HUGE}",
                        floor_bytes=2 * PIXEL_BYTES[fmt], pixels=HUGE_PIXELS)
    # What memory alone costs each effect: its passes over the source, the
    # field and the output, written by ordinary stores, with no arithmetic
    # (traffic/...), against the copy.
    for fmt in FORMATS:
        pixel = PIXEL_BYTES[fmt]
        table.ratio(f"memory bound: whole-frame field {3 * pixel + 16} B/px "
                    f"vs copy {2 * pixel} B/px, {fmt}",
                    f"traffic/outline/{fmt}/{HUGE}", f"copy/{fmt}/{HUGE}", None)
        table.ratio(f"memory bound: source in, output out {2 * pixel} B/px "
                    f"vs copy {2 * pixel} B/px, {fmt}",
                    f"traffic/gradient/{fmt}/{HUGE}", f"copy/{fmt}/{HUGE}", None)
    table.megabytes(f"outline: peak memory of one render ({HUGE})",
                    f"memory/render/byte/{HUGE}", "peak_MB", 16.0)
    for case in ("gradient/linear/byte", "outline/good/byte"):
        table.speedup(f"{case}: 1 thread / 2 threads ({HUGE})",
                      f"{case}/{HUGE}/threads1", f"{case}/{HUGE}", 1.7)
    table.ratio(f"outline/good/byte vs peer/opencv_outline ({BIG})",
                f"outline/good/byte/{BIG}", f"peer/opencv_outline/{BIG}", 0.1)
    table.ratio(f"outline/best/byte vs peer/opencv_outline ({BIG})",
                f"outline/best/byte/{BIG}", f"peer/opencv_outline/{BIG}", 0.15)
    table.ratio(f"field/good vs peer/opencv_dt ({BIG})",
                f"field/good/{BIG}", f"peer/opencv_dt/{BIG}", 1.0)
    table.ratio(f"outline/good/byte window256 vs whole frame ({BIG})",
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
