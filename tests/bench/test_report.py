"""bench/report.py: pairing within one executable, medians of repetitions, bounds, --check."""

import contextlib
import importlib.util
import io
import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SPEC = importlib.util.spec_from_file_location(
    "report", os.path.join(HERE, "..", "..", "bench", "report.py"))
report = importlib.util.module_from_spec(SPEC)
SPEC.loader.exec_module(report)


def case(name, ns, **extra):
    """One iteration record whose ns per point is `ns`."""
    record = {"name": name, "run_name": name, "run_type": "iteration", "family_index": 0,
              "real_time": 1.0, "cpu_time": 1.0, "time_unit": "ms",
              "items_per_second": 1e9 / ns}
    record.update(extra)
    return record


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.saved = report.TARGETS

    def tearDown(self):
        report.TARGETS = self.saved
        self.folder.cleanup()

    def write(self, exe, records):
        path = os.path.join(self.folder.name, exe + ".json")
        with open(path, "w") as f:
            json.dump({"context": {"executable": "/x/bench_" + exe}, "benchmarks": records}, f)

    def run_main(self, *args):
        out = io.StringIO()
        argv = sys.argv
        sys.argv = ["report.py"] + list(args) + [self.folder.name]
        try:
            with contextlib.redirect_stdout(out):
                status = report.main()
        finally:
            sys.argv = argv
        return status, out.getvalue()

    def test_pairs_only_within_one_executable_and_applies_each_kind_of_bound(self):
        # Same case names in two executables, different baselines: never mixed.
        self.write("a", [case("BM_RawX", 2.0), case("BM_X", 3.0),
                         case("BM_T", 1.0, speedup=1.8)])
        self.write("b", [case("BM_RawX", 4.0), case("BM_X", 10.0)])
        report.TARGETS = [
            ("a", "BM_X", "BM_RawX", "ratio", 1.5, "a"),
            ("b", "BM_X", "BM_RawX", "ratio", 2.0, "b"),
            ("a", "BM_RawX", "BM_X", "speedup", 1.4, "c"),
            ("a", "BM_T", "speedup", "counter_min", 1.7, "d"),
            ("b", "BM_X", "BM_RawX", "report", None, "e"),
        ]
        results = report.evaluate(report.load([self.folder.name]))
        values = [round(value, 6) for _, value, _ in results]
        self.assertEqual(values, [1.5, 2.5, 1.5, 1.8, 2.5])
        self.assertEqual([ok for _, _, ok in results], [True, False, True, True, None])

    def test_median_of_repetitions_and_google_benchmark_median_wins(self):
        self.write("a", [case("BM_RawX", 1.0), case("BM_X", 9.0), case("BM_X", 2.0),
                         case("BM_X", 5.0),
                         dict(case("BM_RawY", 7.0), run_type="aggregate", name="BM_RawY_median",
                              aggregate_name="median"),
                         case("BM_RawY", 1.0), case("BM_Y", 14.0)])
        self.write("b", [dict(case("BM_Z", 3.0), run_type="aggregate", name="BM_Z_median",
                              aggregate_name="median"),
                         dict(case("BM_Z", 8.0), run_type="aggregate", name="BM_Z_mean",
                              aggregate_name="mean")])
        runs = report.load([self.folder.name])
        cases = runs["a"]["cases"]
        self.assertAlmostEqual(report.ns_per_point(cases["BM_X"]), 5.0)
        self.assertAlmostEqual(report.ns_per_point(cases["BM_RawY"]), 7.0)
        # Aggregates only (--benchmark_report_aggregates_only): the median still counts.
        self.assertAlmostEqual(report.ns_per_point(runs["b"]["cases"]["BM_Z"]), 3.0)

    def test_check_lists_misses_and_unmeasured_cases_with_a_failing_status(self):
        self.write("a", [case("BM_RawX", 2.0), case("BM_X", 3.0)])
        report.TARGETS = [("a", "BM_X", "BM_RawX", "ratio", 2.0, "fine")]
        self.assertEqual(self.run_main("--check"), (0, "all 1 targets met\n"))

        report.TARGETS.append(("a", "BM_X", "BM_RawX", "ratio", 1.2, "too slow"))
        report.TARGETS.append(("a", "BM_Gone", "BM_RawX", "ratio", 9.0, "absent"))
        status, out = self.run_main("--check")
        self.assertEqual(status, 1)
        self.assertIn("MISS a:BM_X 1.50x vs BM_RawX", out)
        self.assertIn("NOT MEASURED a:BM_Gone", out)
        self.assertNotIn("fine", out)


if __name__ == "__main__":
    unittest.main()
