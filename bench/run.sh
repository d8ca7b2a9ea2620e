#!/usr/bin/env bash
# Runs every benchmark executable of a build and prints ns per point with the ratio of each case
# to its baseline of the same run (bench/report.py), then the cases that miss their targets.
#
#   bench/run.sh BUILD_DIR [extra Google Benchmark flags...]
#
# Environment:
#   BENCH_MIN_TIME     seconds per case and repetition (default 0.2)
#   BENCH_REPETITIONS  repetitions per case, interleaved at random; the median is reported
#                      (default 3)
#   BENCH_OUT          where the JSON results go (default BUILD_DIR/bench-results)
#   BENCH_CHECK=1      exit non-zero when a target is missed (default: report only)
#   BENCH_HEAP=warm    run with a warm heap: glibc keeps freed blocks instead of returning them
#                      to the kernel (GLIBC_TUNABLES=glibc.malloc.mmap_max=0:
#                      glibc.malloc.trim_threshold=68719476736); a GLIBC_TUNABLES of your own
#                      with mmap_max=0 counts as warm too. Noted as heap=warm in the results.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 BUILD_DIR [benchmark flags...]" >&2
    exit 2
fi
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
out=${BENCH_OUT:-$build/bench-results}
min_time=${BENCH_MIN_TIME:-0.2}
repetitions=${BENCH_REPETITIONS:-3}

shopt -s nullglob
executables=("$build"/bench/bench_*)
if [[ ${#executables[@]} -eq 0 ]]; then
    echo "no bench_* executables under $build/bench (configure with ORV_BUILD_BENCH=ON)" >&2
    exit 2
fi

if [[ ${BENCH_HEAP:-cold} == warm ]]; then
    export GLIBC_TUNABLES=glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=68719476736
fi
heap=cold
if [[ ${GLIBC_TUNABLES:-} == *mmap_max=0* ]]; then
    heap=warm
fi

mkdir -p "$out"
rm -f "$out"/*.json
for exe in "${executables[@]}"; do
    [[ -x $exe && -f $exe ]] || continue
    name=$(basename "$exe")
    echo "running $name ..." >&2
    "$exe" --benchmark_format=json --benchmark_min_time="$min_time" \
        --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
        --benchmark_context=heap="$heap" "$@" >"$out/$name.json"
done

python3 "$here/report.py" "$out"
echo
status=0
python3 "$here/report.py" --check "$out" || status=$?
if [[ ${BENCH_CHECK:-0} == 1 ]]; then
    exit $status
fi
