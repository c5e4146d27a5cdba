#!/usr/bin/env bash
# Builds the benchmarks (Release, in build/bench) and runs them all: the hot
# paths on an instant dispatcher, every operation over a paced
# pseudo-terminal, 1, 8 and 32 channels at once. Prints Google Benchmark's
# report, then one table of the target figures, each a median over the
# repetitions of this one run. The station service's figures come last; its
# memory over a long run only when asked for (it takes that many minutes).
#   scripts/bench.sh [repetitions]        default 3
#   QUORLAN_BENCH_FLAGS='--benchmark_filter=Line/' scripts/bench.sh 1
#   QUORLAN_BENCH_MEMORY_MINUTES=10 scripts/bench.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORLAN_BENCH_BUILD:-$root/build/bench}
repetitions=${1:-3}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUORLAN_BENCH=ON -DQUORLAN_TESTS=OFF >/dev/null
cmake --build "$build" --target quorlan_bench quorlan -j "${JOBS:-2}" >/dev/null

commit=$(git -C "$root" rev-parse --short HEAD)
if ! git -C "$root" diff --quiet HEAD -- src tools station bench; then commit+=" with local changes"; fi
echo "commit $commit; $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"

# shellcheck disable=SC2086  # the extra flags are meant to split
"$build/bench/quorlan_bench" --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_color=false ${QUORLAN_BENCH_FLAGS:-}

# The station's resident memory: 4 lines x 8 dispensers, 64 event streams.
minutes=${QUORLAN_BENCH_MEMORY_MINUTES:-0}
row() { printf '%-44s %-30s %-10s %s\n' "$@"; }
if ((minutes > 0)); then
  result=$(mktemp)
  "$root/bench/station-memory.sh" "$build/tools/cli/quorlan" "$minutes" "$result"
  read -r -a fields <"$result"
  rm -f "$result"
  declare -A memory
  for field in "${fields[@]:1}"; do memory[${field%%=*}]=${field#*=}; done
  grown=$(awk -v a="${memory[rss_kb]}" -v b="${memory[first_minute_kb]}" 'BEGIN {print (a <= 1.1 * b) ? "met" : "MISSED"}')
  row "station RSS after $minutes min, 64 streams" "${memory[rss_kb]} kB (${memory[per_stream_kb]} kB a stream)" \
    "steady" "$grown"
  row "  before streams; first minute" "${memory[before_streams_kb]}; ${memory[first_minute_kb]} kB" "" ""
else
  row "station RSS, 64 streams" "not run" "" "(QUORLAN_BENCH_MEMORY_MINUTES=10)"
fi
