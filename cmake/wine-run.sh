#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh <prefix folder> <program> [args]
# The prefix is created once (under a lock, since CTest starts programs in
# parallel); Wine's own diagnostics and the .NET/HTML installers stay off.
set -euo pipefail

export WINEPREFIX=$(realpath -m "$1")
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi

exec wine "$@"
