#!/usr/bin/env bash
# Writes the manual pages of the quorlan command from its own --help texts,
# so the pages and the command never disagree:
#   make-man-pages.sh QUORLAN_BINARY OUTPUT_DIR VERSION
# quorlan.1.gz for the command and its global options, quorlan-COMMAND.1.gz
# for each command it lists. help2man takes the date from SOURCE_DATE_EPOCH.
set -euo pipefail

binary=$(realpath "$1")
out=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The commands and their one-line descriptions, from the Subcommands: block.
mapfile -t commands < <("$binary" --help | awk '
  /^Subcommands:/ { listing = 1; next }
  listing && /^[^ ]/ { listing = 0 }
  listing && NF >= 2 { print }')
[[ ${#commands[@]} -gt 0 ]] || { echo "no commands in '$binary --help'" >&2; exit 1; }

see_also=".BR quorlan (1)"
for entry in "${commands[@]}"; do
  read -r name _ <<<"$entry"
  see_also+=$',\n'".BR quorlan-$name (1)"
done
printf '[SEE ALSO]\n%s\n' "$see_also" >"$work/see-also.h2m"

rm -rf "$out"
mkdir -p "$out"
page() {  # page NAME DESCRIPTION PROGRAM
  help2man --no-info --no-discard-stderr --version-string="$version" --section=1 \
    --name="$2" --include="$work/see-also.h2m" --output="$out/$1.1" "$3"
  gzip -9n "$out/$1.1"
}

page quorlan "$("$binary" --help | head -n 1)" "$binary"
for entry in "${commands[@]}"; do
  read -r name description <<<"$entry"
  # help2man names the page after the program it runs: a one-line stand-in.
  printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$binary" "$name" >"$work/quorlan-$name"
  chmod +x "$work/quorlan-$name"
  page "quorlan-$name" "$description" "$work/quorlan-$name"
done
