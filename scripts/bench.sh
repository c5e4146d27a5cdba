#!/usr/bin/env bash
# Builds the benchmarks (Release, in build/bench) and runs them all: the hot
# paths on an instant dispatcher, every operation over a paced
# pseudo-terminal, 1, 8 and 32 channels at once. Prints Google Benchmark's
# report, then one table of the target figures, each a median over the
# repetitions of this one run.
#   scripts/bench.sh [repetitions]        default 3
#   QUORLAN_BENCH_FLAGS='--benchmark_filter=Line/' scripts/bench.sh 1
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORLAN_BENCH_BUILD:-$root/build/bench}
repetitions=${1:-3}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUORLAN_BENCH=ON -DQUORLAN_TESTS=OFF >/dev/null
cmake --build "$build" --target quorlan_bench -j "${JOBS:-2}" >/dev/null

commit=$(git -C "$root" rev-parse --short HEAD)
if ! git -C "$root" diff --quiet HEAD -- src tools bench; then commit+=" with local changes"; fi
echo "commit $commit; $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"

# shellcheck disable=SC2086  # the extra flags are meant to split
exec "$build/bench/quorlan_bench" --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_color=false ${QUORLAN_BENCH_FLAGS:-}
