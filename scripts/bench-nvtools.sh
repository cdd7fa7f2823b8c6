#!/usr/bin/env bash
# Builds the utility library's benchmarks in Release and prints the LZW throughput next to
# ncompress (compress -b12 / uncompress on the same 16 MiB), with the speed ratio, and the
# noise generator's timings.
#   NV_BENCH_DIR          build folder (default build/bench)
#   NV_BENCH_REPETITIONS  runs of each benchmark; the median is shown (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${NV_BENCH_DIR:-build/bench}
reps=${NV_BENCH_REPETITIONS:-3}
command -v compress >/dev/null || { echo "compress (Debian package ncompress) is missing" >&2; exit 1; }
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNV_WERROR=ON -DNV_TESTS=OFF >/dev/null
cmake --build "$dir" --target nvtools_bench -j 2 >/dev/null
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
# The benchmark's own machine summary goes to stderr; shown only when the run fails.
"$dir/bench/NVTools/nvtools_bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json >/dev/null 2>"$err" || { cat "$err" >&2; exit 1; }
python3 - "$out" <<'PY'
import json, sys
runs = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
        continue
    runs[b["run_name"].split("/manual_time")[0]] = b   # the median, or the single run
def ms(b): return b["real_time"] if "manual_time" in b["run_name"] else b["cpu_time"]
def mbs(b): return b["bytes_per_second"] / (1 << 20)
print("LZW on 16 MiB (CPU time; ncompress: the child's user + system time)")
print(f"{'':16}{'codec MiB/s':>12}{'ncompress MiB/s':>17}{'speed ratio':>13}{'codec size':>12}{'ncompress size':>16}")
for direction, ours, theirs in (("encode", "BM_LZWEncode", "BM_NcompressEncode"), ("decode", "BM_LZWDecode", "BM_NcompressDecode")):
    for arg, kind in ((0, "text"), (1, "random")):
        a, n = runs.get(f"{ours}/{arg}"), runs.get(f"{theirs}/{arg}")
        if not a or not n:
            print(f"{direction} {kind}: missing"); continue
        print(f"{direction + ' ' + kind:16}{mbs(a):12.1f}{mbs(n):17.1f}{mbs(a) / mbs(n):12.2f}x"
              f"{a['ratio']:12.3f}{n['ratio']:16.3f}")
for name, label in (("BM_NoiseFullPeriod", "noise: 16777215 steps"), ("BM_NoiseCountUntilLatest", "noise: getCountUntil(0x4CFB), 924181 steps")):
    if name in runs:
        print(f"{label}: {ms(runs[name]):.1f} ms")
PY
