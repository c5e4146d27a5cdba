#!/usr/bin/env bash
# The fleet on this machine: a broker (the example ACL and passwords), a
# throwaway PostgreSQL, head office and two stand-in stations, all in one
# folder on loopback ports. Fills appear at head office as the stations
# complete them; Ctrl-C ends everything.
#
#   scripts/fleet-demo.sh [--broker-port N] [--hq-port N] [--pg-port N] [--dir PATH]
#
# Each option may also come from the environment (FLEET_DEMO_BROKER_PORT,
# FLEET_DEMO_HQ_PORT, FLEET_DEMO_PG_PORT, FLEET_DEMO_DIR); the option wins.
# A port not given is a free one; a folder not given is a temporary one,
# removed at the end, while a given folder is kept for a look afterwards.
set -euo pipefail
build="${BUILD:-build/native}"
root="$(cd "$(dirname "$0")/.." && pwd)"
pgbin=/usr/lib/postgresql/15/bin

usage() {
  sed -n 's/^#   //p' "$0" >&2
  exit 2
}
broker_port="${FLEET_DEMO_BROKER_PORT:-}"
hq_port="${FLEET_DEMO_HQ_PORT:-}"
pg_port="${FLEET_DEMO_PG_PORT:-}"
dir="${FLEET_DEMO_DIR:-}"
while [[ $# -gt 0 ]]; do
  [[ $# -ge 2 ]] || usage
  case "$1" in
    --broker-port) broker_port="$2" ;;
    --hq-port) hq_port="$2" ;;
    --pg-port) pg_port="$2" ;;
    --dir) dir="$2" ;;
    *) usage ;;
  esac
  shift 2
done
for port in "$broker_port" "$hq_port" "$pg_port"; do
  if [[ -n "$port" && ! ( "$port" =~ ^[0-9]{1,5}$ && "$port" -ge 1 && "$port" -le 65535 ) ]]; then
    echo "fleet-demo: '$port' is not a port (1..65535)" >&2
    exit 2
  fi
done

keep=false
if [[ -n "$dir" ]]; then
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  if [[ -n "$(ls -A "$dir")" ]]; then
    echo "fleet-demo: the folder $dir is not empty" >&2
    exit 2
  fi
  keep=true
else
  dir="$(mktemp -d /tmp/quorlan-fleet-demo-XXXXXX)"
fi
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if $keep; then echo "fleet-demo: kept $dir"; else rm -rf "$dir"; fi
}
trap cleanup EXIT INT TERM

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
as_user() {  # runs as a system user when we are root
  if [[ $(id -u) -eq 0 ]]; then runuser -u "$1" -- "${@:2}"; else "${@:2}"; fi
}

broker_port="${broker_port:-$(free_port)}"
hq_port="${hq_port:-$(free_port)}"
pg_port="${pg_port:-$(free_port)}"
token=$(head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n')

mkdir "$dir/broker" "$dir/pg"
cp "$root/packaging/fleet/acl.example" "$dir/broker/acl"
cp "$root/packaging/fleet/passwords.example" "$dir/broker/passwords"
cat > "$dir/broker/mosquitto.conf" <<CONF
listener $broker_port 127.0.0.1
allow_anonymous false
password_file $dir/broker/passwords
acl_file $dir/broker/acl
persistence true
persistence_location $dir/broker/
max_queued_messages 0
CONF
[[ $(id -u) -eq 0 ]] && chown -R mosquitto: "$dir/broker" && chown postgres: "$dir/pg"
chmod 755 "$dir"
/usr/sbin/mosquitto -c "$dir/broker/mosquitto.conf" 2>"$dir/broker/log" &
pids+=($!)

as_user postgres "$pgbin/initdb" -D "$dir/pg/data" -U postgres -A trust --no-sync >/dev/null
# Its socket is in the folder, named by its port: another PostgreSQL on
# this machine keeps its own.
as_user postgres "$pgbin/postgres" -D "$dir/pg/data" -k "$dir/pg" -p "$pg_port" \
  -c listen_addresses= >"$dir/pg.log" 2>&1 &
pids+=($!)
until "$pgbin/pg_isready" -q -h "$dir/pg" -p "$pg_port"; do sleep 0.2; done

echo "hq-example-password" > "$dir/hq-mqtt.password"
cat > "$dir/hq.toml" <<TOML
listen = "127.0.0.1:$hq_port"
database = "host=$dir/pg port=$pg_port dbname=postgres user=postgres"
broker = "mqtt://127.0.0.1:$broker_port"
broker_user = "hq"
broker_password_file = "$dir/hq-mqtt.password"
[[token]]
name = "demo"
secret = "$token"
role = "admin"
TOML
"$build/tools/hq/quorlan-hq" --config "$dir/hq.toml" &
pids+=($!)

for station in station-1 station-2; do
  echo "$station-example-password" > "$dir/$station.password"
  "$build/tools/hq/quorlan-fleet-demo-station" "mqtt://127.0.0.1:$broker_port" "$station" \
    "$dir/$station.password" "$dir/$station.db" 3 &
  pids+=($!)
done

api="http://127.0.0.1:$hq_port/api/v1"
echo
echo "head office: $api  (token $token)"
echo "  curl -H 'Authorization: Bearer $token' $api/stations"
echo "  curl -H 'Authorization: Bearer $token' '$api/fills?status=all'"
echo "  curl -H 'Authorization: Bearer $token' -d '{\"stations\":\"all\",\"prices\":[{\"channel\":1,\"dispenser\":1,\"grade\":1,\"price\":1.79}]}' $api/prices"
echo
sleep 10
curl -s -H "Authorization: Bearer $token" "$api/stations"; echo
curl -s -H "Authorization: Bearer $token" "$api/fills?limit=5"; echo
echo "Ctrl-C ends the demo."
wait
