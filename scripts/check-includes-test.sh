#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The include check against faults planted in a copy of the tree: the copy
# as it stands passes, and each planted fault fails it with its own words.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The tree's copy, made once; each case works on links to it (sed -i writes
# a new file, so a case never changes the copy).
mkdir -p "$work/copy/docs"
cp "$here/docs/architecture.md" "$work/copy/docs/"
cp -r "$here/station" "$here/include" "$here/src" "$work/copy/"
fresh() {
  rm -rf "$work/tree"
  cp -al "$work/copy" "$work/tree"
}

failed=0
# expect NAME WANTED-WORDS: the check of the copy fails and says WANTED-WORDS
# ("" : it passes).
expect() {
  local name="$1" wanted="$2" output status=0
  output="$("$here/scripts/check-includes.py" "$work/tree" 2>&1)" || status=$?
  if [ -z "$wanted" ]; then
    [ "$status" -eq 0 ] && return 0
    echo "FAIL $name: the check failed: $output"
  elif [ "$status" -eq 0 ]; then
    echo "FAIL $name: the check passed"
  elif ! grep -qF -- "$wanted" <<<"$output"; then
    echo "FAIL $name: expected '$wanted' in: $output"
  else
    return 0
  fi
  failed=1
}

fresh
expect "the tree as it stands" ""

# A bad include, planted above the first.
fresh
sed -i '0,/^#include "/s//#include "station\/app\/Station.h"\n#include "/' "$work/tree/station/base/Money.cpp"
expect "a base room includes the station" "station/base/Money.cpp:"
expect "...and is told which include" "station/base/ may not include station/app/Station.h"

fresh
sed -i '0,/^#include "/s//#include "station\/api\/Api.h"\n#include "/' "$work/tree/station/journal/Store.h"
expect "the journal includes the API" "station/journal/ may not include station/api/Api.h"

fresh
printf '#pragma once\n#include "quorlan/Driver.h"\n' >"$work/tree/station/PriceTable.h"
sed -i '0,/^#include "/s//#include "station\/PriceTable.h"\n#include "/' "$work/tree/station/line/PollSchedule.cpp"
expect "a line room includes a root room its row does not name" \
  "station/line/ may not include station/PriceTable.h"

fresh
mkdir -p "$work/tree/station/extra"
printf '#pragma once\n' >"$work/tree/station/extra/Extra.h"
expect "a folder the table does not name" "station/extra/: a folder of the service that the table does not name"

fresh
printf '#pragma once\n#include "station/base/Twin.h"\n' >"$work/tree/station/base/Pair.h"
printf '#pragma once\n#include "station/base/Pair.h"\n' >"$work/tree/station/base/Twin.h"
expect "two files include each other" "files include each other round: station/base/Pair.h -> station/base/Twin.h -> station/base/Pair.h"

fresh
sed -i '0,/^#include "/s//#include "station\/base\/Gone.h"\n#include "/' "$work/tree/station/base/Zone.cpp"
expect "an include of no file" '"station/base/Gone.h" names no file of the project'

fresh
sed -i 's/^| `station\/base\/` | \(.*\) | nothing of the station |$/| `station\/base\/` | \1 | `app` |/' "$work/tree/docs/architecture.md"
expect "a table whose folders allow each other round" "the folders allow each other round"

if [ "$failed" -ne 0 ]; then
  echo "check-includes-test: some planted faults were not caught" >&2
  exit 1
fi
echo "check-includes-test: every planted fault caught"
