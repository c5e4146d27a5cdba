#!/bin/sh
# Installs the built library into a fresh prefix, then builds the example
# against it twice, with find_package(quorlan) and with pkg-config, and runs
# both on a device that does not exist: each must report a line failure.
#
#   check-package.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -eu
build=$1 source=$2 work=$3

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S "$source/examples" -B "$work/find-package" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/find-package" >/dev/null

pcdir=$(dirname "$(find "$prefix" -name quorlan.pc)")
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs quorlan)
# shellcheck disable=SC2086
c++ -o "$work/quorlan-poll-pc" "$source/examples/poll.cpp" $flags

for program in "$work/find-package/quorlan-poll" "$work/quorlan-poll-pc"; do
  status=0
  "$program" "$work/no-such-device" >"$work/out" 2>&1 || status=$?
  if [ "$status" -ne 1 ] || ! grep -q "line failure" "$work/out"; then
    echo "$program: expected a line failure, got status $status:" >&2
    cat "$work/out" >&2
    exit 1
  fi
done
echo "the installed package builds the example with find_package and with pkg-config"
