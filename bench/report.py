#!/usr/bin/env python3
"""Prints the benchmark suite's figures as ns per point with the ratio of each case to its
baseline measured in the same run, and checks them against the targets.

    bench/report.py RESULTS...          the table (RESULTS: JSON files of Google Benchmark, or
                                        folders holding them, one file per executable)
    bench/report.py --check RESULTS...  only the cases that miss their targets; exit status 1
                                        when any does (or when a checked case is missing)
    bench/report.py --markdown cold=DIR warm=DIR
                                        the target table in Markdown, one column pair per run

Pairing. A case is compared only with a baseline of the same executable (the same process,
the same data, the same run). By convention a baseline's name starts with BM_Raw (a plain loop
over plain arrays or over the host's own tables); BM_Host* cases are the reference host
called directly and serve as the baseline of the adapter's overhead; a templated case names its
variant in angle brackets (BM_GetPoints<Box>, BM_RawArray<3>); a 5% bound is finer than
the drift between two separate cases on a shared machine, so that overhead is also measured
within one case that alternates both calls (counter adapter_over_host). TARGETS below is the
one place that says which case is held to which baseline and bound.

Figures. ns per point is 1e9 / items_per_second (each case sets items processed to the
points, or elements, it walks per iteration). When a run has repetitions the median is used.
Cases without items (a copy, a single call) show their time per iteration and counters.
"""

import argparse
import json
import os
import sys

# (executable, case, baseline, kind, bound, what is held to it)
#   kind "ratio":   ns(case) / ns(baseline) <= bound
#   kind "speedup": ns(baseline) / ns(case) >= bound
#   kind "report":  the ratio is printed, no bound
#   kind "floor":   (ns(baseline) + ns(case)) / ns(baseline), printed, no bound: the ratio a
#                   case would have that did the baseline's work plus this one's
#   kind "counter": counter named by `baseline` <= bound (an absolute figure; "time_us" is
#                   the time per iteration in microseconds); no bound: printed only
#   kind "counter_min": counter named by `baseline` >= bound
TARGETS = [
    ("cursor_floor", "BM_HostPointCloudCopy", "time_us", "counter", 100.0,
     "copy of a 10M-point PointCloud, microseconds"),
    ("provider_read", "BM_CursorPositions", "BM_RawPositions", "ratio", 1.5,
     "cursor positions vs raw loop over the host tables"),
    ("provider_read", "BM_CursorPositionsAndThreeExtras", "BM_RawPositionsAndThreeExtras",
     "ratio", 4.0, "cursor positions + 3 extras vs raw loop over the host tables"),
    ("provider_read", "BM_CursorThreadSpeedup/real_time", "speedup", "counter_min", 1.7,
     "cursor: one thread's wall time / two threads' on split halves"),
    ("provider_read", "BM_CursorThreadSpeedup/real_time", "raw_speedup", "counter", None,
     "raw loop's speed-up, timed alternately with the cursor in that case"),
    ("provider_read", "BM_ArraysPositions", "BM_RawBlockCopyPositions", "ratio", 1.2,
     "positions as arrays (PointArrays::Fill) vs the same copy by hand with ForEachBlock"),
    ("provider_read", "BM_BlockPositions", "BM_RawPositions", "ratio", 0.5,
     "blocks, positions vs raw loop over the host tables"),
    ("provider_read", "BM_BlockPositionsAndThreeExtras", "BM_RawPositionsAndThreeExtras",
     "ratio", 0.5, "blocks, positions + 3 extras vs raw loop over the host tables"),
    ("provider_read", "BM_BlockFallbackPositions", "BM_CursorPositions", "ratio", 1.2,
     "blocks filled from a cursor (no block interface) vs the cursor loop"),
    ("provider_read", "BM_FallbackPiecesWantAll", "BM_FallbackPiecesWantKeys", "ratio", 1.5,
     "blocks from a cursor over 64 pieces of 1,000 points: WantAll vs WantKeys"),
    ("provider_read", "BM_BlockThreadSpeedup/real_time", "speedup", "counter_min", 1.8,
     "blocks: one thread's wall time / two threads' (bound holds when the raw loop's >= 1.8)"),
    ("provider_read", "BM_BlockThreadSpeedup/real_time", "raw_speedup", "counter", None,
     "raw loop's speed-up, timed alternately with the blocks in that case"),
    ("cursor_floor", "BM_FloorCursor<0>", "BM_RawArray<0>", "report", None,
     "the contract's virtual calls alone (cursor over plain arrays), positions"),
    ("cursor_floor", "BM_FloorCursor<3>", "BM_RawArray<3>", "report", None, "the contract's virtual calls alone, positions + 3 extras"),
    ("builder", "BM_HostVectorSet", "BM_HostVectorGet", "ratio", 2.0,
     "normal codec: encode (VectorSet) vs decode (VectorGet)"),
    ("builder", "BM_RawHostAppend", "BM_RawSoaAppend", "ratio", 2.0,
     "raw record + AddPoint (3 extras) vs plain vectors after reserve"),
    ("builder", "BM_BuilderAddPointData", "BM_RawHostAppend", "ratio", 1.3,
     "builder AddPointData (3 keys) vs raw record + AddPoint"),
    ("builder", "BM_BuilderAppendBlock", "BM_RawHostAppend", "ratio", 1.1,
     "builder AppendBlock (3 keys, blocks filled in the loop) vs raw record + AddPoint"),
    ("builder", "BM_AccessorFloor", "BM_RawHostAppend", "floor", None,
     "floor of AddPointData: raw record + AddPoint plus the accessor's calls alone"),
    ("builder", "BM_BlockFill", "BM_RawHostAppend", "floor", None,
     "floor of AppendBlock: raw record + AddPoint plus filling the blocks alone"),
    ("builder", "BM_GetResultThenAddPointOn10M/manual_time", "GetResult_us", "counter", 1000.0,
     "GetResult on 10M points, microseconds"),
    ("builder", "BM_GetResultThenAddPointOn10M/manual_time", "AddPointAfter_us", "counter", 1000.0,
     "AddPointData right after GetResult on 10M points, microseconds"),
    ("provider_query", "BM_GetPoints<Box>", "BM_RawSelectCopy<Box>", "ratio", 2.0,
     "GetPoints box (25%) vs branch-free select-and-copy"),
    ("provider_query", "BM_GetPointsVsHost<Box>", "adapter_over_host", "counter", 1.05,
     "GetPoints box / host selection called directly, alternated in one case"),
    ("provider_query", "BM_GetPoints<Sphere>", "BM_RawSelectCopy<Sphere>", "ratio", 2.0,
     "GetPoints sphere (25%) vs branch-free select-and-copy"),
    ("provider_query", "BM_GetPointsVsHost<Sphere>", "adapter_over_host", "counter", 1.05,
     "GetPoints sphere / host selection called directly, alternated in one case"),
    ("las_io", "BM_LasReadThroughBuilder", "BM_RawLasDecodeAppend", "ratio", 1.3,
     "LAS read into a host cloud through a builder vs raw decode + host AddPoint"),
    ("neighbourhoods", "BM_NeighboursAndNormals", "BM_RawPositionsAsArrays", "report", None,
     "k-d tree, 12 nearest neighbours and a PCA normal per point vs copying the positions"),
    ("las_io", "BM_LasReadRealScan", "Mpoints_per_s", "counter", None,
     "LAS read of autzen_trim.las from its file, million points per second"),
    ("las_io", "BM_LasWrite", "BM_RawLasEncode", "ratio", 2.0,
     "LAS write of a host provider vs raw encode of the same points into memory"),
]


def load(paths):
    """{executable: {"context": ..., "cases": {name: record}}} from JSON files or folders."""
    files = []
    for path in paths:
        if os.path.isdir(path):
            files += sorted(os.path.join(path, f) for f in os.listdir(path) if f.endswith(".json"))
        else:
            files.append(path)
    runs = {}
    for path in files:
        with open(path) as f:
            data = json.load(f)
        exe = os.path.basename(data["context"]["executable"])
        exe = exe[len("bench_"):] if exe.startswith("bench_") else exe
        medians, singles = {}, {}
        for b in data.get("benchmarks", []):
            if b.get("error_occurred"):
                continue
            name = b.get("run_name", b["name"])
            if b.get("run_type") == "aggregate":
                if b.get("aggregate_name") == "median":
                    medians[name] = b
            else:
                singles.setdefault(name, []).append(b)
        # The median of the repetitions: Google Benchmark's own when it reported one (also
        # when it reported aggregates only), else the middle repetition.
        cases = dict(medians)
        for name, records in singles.items():
            if name not in cases:
                records.sort(key=lambda r: -(r.get("items_per_second") or 0.0))
                cases[name] = records[len(records) // 2]
        runs[exe] = {"context": data["context"], "cases": cases, "order": order_of(data)}
    return runs


def order_of(data):
    """Case names in the order the executable declares them (runs may be interleaved)."""
    keys = {}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        keys.setdefault(name, (b.get("family_index", 0), b.get("per_family_instance_index", 0)))
    return sorted(keys, key=keys.get)


TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def ns_per_point(record):
    ips = record.get("items_per_second")
    return 1e9 / ips if ips else None


def time_per_iteration_ns(record):
    return record["real_time"] * TO_NS[record.get("time_unit", "ns")]


def evaluate(runs):
    """One result per TARGETS row: (row, value, ok) where ok is None for report-only rows and
    value None when the case or its baseline was not measured."""
    results = []
    for row in TARGETS:
        exe, case, baseline, kind, bound, _ = row
        cases = runs.get(exe, {}).get("cases", {})
        record = cases.get(case)
        value = None
        if kind in ("counter", "counter_min"):
            if record is not None and baseline == "time_us":
                value = time_per_iteration_ns(record) / 1e3
            elif record is not None and baseline in record:
                value = float(record[baseline])
        elif record is not None and baseline in cases:
            a, b = ns_per_point(record), ns_per_point(cases[baseline])
            if a and b:
                value = {"speedup": b / a, "floor": (b + a) / b}.get(kind, a / b)
        if bound is None:
            ok = None
        elif value is None:
            ok = False
        elif kind in ("ratio", "counter"):
            ok = value <= bound
        else:  # speedup, counter_min
            ok = value >= bound
        results.append((row, value, ok))
    return results


def bound_text(kind, bound):
    if bound is None:
        return "report"
    if kind == "ratio":
        return "<= %.2fx" % bound
    if kind == "speedup":
        return ">= %.2fx faster" % bound
    if kind == "counter":
        return "<= %g" % bound
    if kind == "counter_min":
        return ">= %g" % bound
    return "report"


def print_table(runs, results):
    for exe in sorted(runs):
        ctx = runs[exe]["context"]
        load = ", ".join("%.2f" % x for x in ctx.get("load_avg", []))
        print("%s  (%s cpus, heap %s, load %s)" % (exe, ctx.get("num_cpus", "?"),
                                                  ctx.get("heap", "unknown"), load))
        print("  %-42s %12s %12s" % ("case", "ns/point", "per call"))
        for name in runs[exe]["order"]:
            record = runs[exe]["cases"].get(name)
            if record is None:
                continue
            ns = ns_per_point(record)
            extra = ""
            for key in ("selected", "adapter_over_host", "speedup", "raw_speedup",
                        "cpu_ns_per_point_1", "cpu_ns_per_point_2", "GetResult_us",
                        "AddPointAfter_us", "Mpoints_per_s"):
                if key in record:
                    extra += "  %s=%.6g" % (key, record[key])
            print("  %-42s %12s %12s%s" % (name, "%.2f" % ns if ns else "-",
                                           fmt_time(time_per_iteration_ns(record)), extra))
        print()
    print("Ratios to the baselines of the same run")
    print("  %-58s %-30s %9s %16s  %s" % ("case", "baseline", "ratio", "target", ""))
    for (exe, case, baseline, kind, bound, what), value, ok in results:
        shown = "-" if value is None else ("%.3f" % value if kind.startswith("counter") else
                                           "%.2fx" % value)
        status = {True: "ok", False: "MISS", None: ""}[ok]
        if value is None and bound is not None:
            status = "NOT MEASURED"
        print("  %-58s %-30s %9s %16s  %-4s %s" % (exe + ":" + case, baseline, shown,
                                                   bound_text(kind, bound), status, what))


def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return "%.3g %s" % (ns / scale, unit)
    return "%.3g ns" % ns


def ns_of(runs, exe, name):
    record = runs.get(exe, {}).get("cases", {}).get(name)
    return ns_per_point(record) if record is not None else None


def print_markdown(labelled):
    """One Markdown table over several runs (e.g. cold and warm heap): for every TARGETS row,
    the case's ns per point, the ratio (or counter) and whether it meets its target."""
    labels = [label for label, _ in labelled]
    head = ["what", "case / baseline"]
    for label in labels:
        head += ["ns/point " + label, "ratio " + label]
    head += ["target", "met"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    evaluated = [(runs, evaluate(runs)) for _, runs in labelled]
    for i, row in enumerate(TARGETS):
        exe, case, baseline, kind, bound, what = row
        cells = [what, "`%s` / `%s`" % (case, baseline)]
        verdicts = []
        for runs, results in evaluated:
            _, value, ok = results[i]
            ns = ns_of(runs, exe, case)
            if kind.startswith("counter"):
                cells.append("-")
                cells.append("-" if value is None else "%.3g" % value)
            else:
                base = ns_of(runs, exe, baseline)
                cells.append("-" if ns is None else "%.2f / %.2f" % (ns, base or 0.0))
                cells.append("-" if value is None else "%.2fx" % value)
            verdicts.append({True: "yes", False: "no", None: "-"}[ok])
        cells.append(bound_text(kind, bound))
        cells.append(" / ".join(verdicts))
        print("| " + " | ".join(cells) + " |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true",
                        help="print only the cases that miss their targets; exit 1 if any")
    parser.add_argument("--markdown", action="store_true",
                        help="print the target table in Markdown; results may be given as "
                             "LABEL=PATH (e.g. cold=DIR warm=DIR), one column pair per label")
    parser.add_argument("results", nargs="+", help="JSON files or folders of them")
    args = parser.parse_args()
    if args.markdown:
        labelled = []
        for item in args.results:
            label, _, path = item.rpartition("=")
            labelled.append((label or "", load([path])))
        print_markdown(labelled)
        return 0
    runs = load(args.results)
    results = evaluate(runs)
    if not args.check:
        print_table(runs, results)
        return 0
    misses = [(row, value) for row, value, ok in results if ok is False]
    for (exe, case, baseline, kind, bound, what), value in misses:
        if value is None:
            print("NOT MEASURED %s:%s (against %s): %s" % (exe, case, baseline, what))
        else:
            print("MISS %s:%s %s %s, target %s: %s" % (
                exe, case, "%.3f" % value if kind.startswith("counter") else "%.2fx" % value,
                "" if kind.startswith("counter") else "vs " + baseline, bound_text(kind, bound),
                what))
    if not misses:
        print("all %d targets met" % sum(1 for _, _, ok in results if ok is not None))
    return 1 if misses else 0


if __name__ == "__main__":
    sys.exit(main())
