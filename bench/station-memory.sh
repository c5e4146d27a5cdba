#!/usr/bin/env bash
# Resident memory of a station with 4 simulated lines of 8 dispensers and 64
# open event streams, over a run of some minutes with fills going on.
# Prints RSS (kB) before the streams, with them open, every minute, and at
# the end, then one summary line ("memory: ...") that scripts/bench.sh reads.
#   bench/station-memory.sh QUORLAN_BINARY [minutes] [result file]
set -euo pipefail

binary=$1
minutes=${2:-10}
result=${3:-/dev/stdout}
streams=64
work=$(mktemp -d)
port=$((20000 + $$ % 20000))
token=bench-memory-token-0123456789
cleanup() {
  # Only what this script started.
  if [[ -n ${clients:-} ]]; then kill $clients 2>/dev/null || true; fi
  if [[ -n ${station:-} ]]; then kill "$station" 2>/dev/null || true; wait "$station" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

{
  echo "listen = \"127.0.0.1:$port\""
  echo "database = \"$work/station.db\""
  echo "audit_log = \"$work/audit.log\""
  for c in 1 2 3 4; do
    echo "[[line]]"
    echo "channel = $c"
    echo 'port = "sim"'
    echo "dispensers = [1, 2, 3, 4, 5, 6, 7, 8]"
  done
  echo "[[token]]"
  echo 'name = "bench"'
  echo "secret = \"$token\""
  echo 'role = "admin"'
} >"$work/station.toml"

"$binary" serve --config "$work/station.toml" >"$work/serve.out" 2>"$work/serve.err" &
station=$!
base=http://127.0.0.1:$port/api/v1
for _ in $(seq 100); do
  curl -sf "$base/health" >/dev/null 2>&1 && break
  sleep 0.1
done
auth=(-H "Authorization: Bearer $token")
# Prices for grades 1..4 of every dispenser, so that fills can run.
prices=$(for c in 1 2 3 4; do for d in $(seq 8); do for g in 1 2 3 4; do
  printf '{"channel":%d,"dispenser":%d,"grade":%d,"price":5%d.90},' "$c" "$d" "$g" "$g"
done; done; done)
curl -sf "${auth[@]}" -X PUT -H 'Content-Type: application/json' \
  --data "[${prices%,}]" "$base/prices" >/dev/null

rss() { awk '/^VmRSS/ {print $2}' "/proc/$station/status"; }
sleep 5
before=$(rss)
echo "rss_kb before_streams $before" >&2

clients=
for _ in $(seq $streams); do
  curl -sN "${auth[@]}" "$base/events" >/dev/null 2>&1 &
  clients+=" $!"
done
sleep 10
open=$(rss)
echo "rss_kb streams_open $open" >&2

# One fill every 2 s somewhere on the station, limited to 2 litres.
end=$((SECONDS + minutes * 60))
next_report=$((SECONDS + 60))
fills=0
while ((SECONDS < end)); do
  c=$((RANDOM % 4 + 1)) d=$((RANDOM % 8 + 1))
  if curl -sf "${auth[@]}" -X POST -H 'Content-Type: application/json' \
    --data '{"grade":1,"volume":2.00}' "$base/dispensers/$c/$d/authorize" >/dev/null; then
    fills=$((fills + 1))
  fi
  sleep 2
  if ((SECONDS >= next_report)); then
    now=$(rss)
    first_minute=${first_minute:-$now}
    echo "rss_kb minute $(((SECONDS - end + minutes * 60) / 60)) $now" >&2
    next_report=$((SECONDS + 60))
  fi
done
after=$(rss)
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$station/status")
threads=$(awk '/^Threads/ {print $2}' "/proc/$station/status")
completed=$(curl -sf "${auth[@]}" "$base/fills?limit=1000" | { grep -o "\"id\"" || true; } | wc -l)
per_stream=$(((open - before) / streams))
echo "memory: minutes=$minutes streams=$streams rss_kb=$after hwm_kb=$hwm before_streams_kb=$before" \
  "streams_open_kb=$open first_minute_kb=${first_minute:-$open} per_stream_kb=$per_stream threads=$threads authorized=$fills" \
  "completed_fills=$completed" >"$result"
