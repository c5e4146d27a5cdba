#!/usr/bin/env bash
# Builds a Free Pascal i386-win32 cross compiler and its RTL from Debian's
# fpc-source-3.2.2 with the installed native compiler, once per machine:
#   scripts/build-fpc-win32.sh [output folder, default build/fpc-i386-win32]
# Prints the path of the finished compiler. The result is <out>/bin/ppc386
# and the RTL units in <out>/units; a stamp file marks a complete build, so a
# second run costs nothing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/fpc-i386-win32}")
version=3.2.2
source=/usr/share/fpcsrc/$version
native_units=/usr/lib/x86_64-linux-gnu/fpc/$version/units/x86_64-linux
messages=/usr/lib/x86_64-linux-gnu/fpc/$version/msg/errore.msg
stamp=$out/complete

if [[ -f $stamp ]]; then
  echo "$out/bin/ppc386"
  exit 0
fi
for needed in "$source/compiler/pp.pas" "$source/rtl/win32/buildrtl.pp" "$messages"; do
  [[ -e $needed ]] || { echo "missing $needed (install fpc and fpc-source-$version)" >&2; exit 1; }
done
command -v ppcx64 >/dev/null || { echo "missing ppcx64 (install fpc)" >&2; exit 1; }

# Concurrent builds (parallel configure runs) wait for the first one.
mkdir -p "$(dirname "$out")"
exec 9>"$out.lock"
flock 9
if [[ -f $stamp ]]; then
  echo "$out/bin/ppc386"
  exit 0
fi

rm -rf "$out"
mkdir -p "$out"/{tools,inc,compiler,bin,units}
log=$out/build.log
trap 'echo "FPC cross build failed; see $log" >&2; tail -20 "$log" >&2' ERR

# The compiler's message tables are generated, not shipped in the sources.
ppcx64 -n -Fu"$native_units/rtl" -Fu"$native_units/rtl-objpas" \
  -FU"$out/tools" -FE"$out/tools" "$source/compiler/utils/msg2inc.pp" >>"$log" 2>&1
"$out/tools/msg2inc" "$messages" "$out/inc/msg" msg >>"$log" 2>&1

compiler_dirs=()
for dir in . x86 i386 systems; do
  compiler_dirs+=(-Fu"$source/compiler/$dir" -Fi"$source/compiler/$dir")
done
ppcx64 -n -di386 -O2 -Fu"$native_units/rtl" -Fu"$native_units/rtl-objpas" -Fi"$out/inc" \
  "${compiler_dirs[@]}" -FU"$out/compiler" -FE"$out/compiler" -oppc386 \
  "$source/compiler/pp.pas" >>"$log" 2>&1
mv "$out/compiler/ppc386" "$out/bin/ppc386"

rtl=$source/rtl
rtl_options=(-n -Twin32 -Pi386 -O2 -FU"$out/units"
             -Fi"$rtl/inc" -Fi"$rtl/i386" -Fi"$rtl/win" -Fi"$rtl/win/wininc"
             -Fu"$rtl/inc" -Fu"$rtl/i386" -Fu"$rtl/common" -Fu"$rtl/win"
             -Fu"$rtl/objpas" -Fi"$rtl/objpas" -Fu"$rtl/objpas/sysutils"
             -Fi"$rtl/objpas/sysutils" -Fi"$rtl/objpas/classes")
# The RTL's include paths are relative to rtl/win32, as in its own makefile.
(
  cd "$rtl/win32"
  "$out/bin/ppc386" "${rtl_options[@]}" -Us -Sg system.pp
  "$out/bin/ppc386" "${rtl_options[@]}" ../objpas/objpas.pp
  "$out/bin/ppc386" "${rtl_options[@]}" buildrtl.pp
) >>"$log" 2>&1

touch "$stamp"
echo "$out/bin/ppc386"
