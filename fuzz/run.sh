#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a while, new
# inputs going to build/fuzz/work/<harness> (the committed corpus only seeds).
#   fuzz/run.sh SECONDS [harness...]        (default: every harness)
# Extra libFuzzer flags come from FUZZ_FLAGS, e.g. FUZZ_FLAGS=-runs=10000000.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
harnesses=("$@")
[[ ${#harnesses[@]} -gt 0 ]] || harnesses=(driver reply_check fields gauge_reply)
build=build/fuzz

CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORLAN_FUZZ=ON -DQUORLAN_TOOLS=OFF -DQUORLAN_TESTS=OFF >/dev/null
cmake --build "$build" -j "${JOBS:-2}" >/dev/null

for harness in "${harnesses[@]}"; do
  work="$build/work/$harness"
  mkdir -p "$work"
  echo "== $harness: ${seconds}s"
  # shellcheck disable=SC2086
  "$build/fuzz/fuzz_$harness" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/work/$harness-" ${FUZZ_FLAGS:-} "$work" "fuzz/corpus/$harness" \
    2>&1 | tee "$build/work/$harness.log" | grep -E "^#[0-9]+ +DONE|stat::number_of_executed|ERROR|invariant" || true
  if ls "$build/work/$harness"-{crash,leak,timeout,oom}-* >/dev/null 2>&1; then
    echo "$harness: findings in $build/work/$harness-*" >&2
    exit 1
  fi
done
