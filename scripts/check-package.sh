#!/usr/bin/env bash
# Checks what `make package` made, as a station installer and a host author
# would use it (run as root on Debian 12, after `make package`):
# - lintian on every .deb: no error;
# - the .debs installed with dpkg into a fresh directory tree whose package
#   database is this machine's, so their computed dependencies are checked for
#   real; the installed quorlan prints the project's version and runs its demo;
#   the unit passes systemd-analyze verify and reloads with SIGHUP; the
#   licence is Apache-2.0; the default configuration and the logrotate file
#   are conffiles; the configuration documents TLS, passes `serve --check`
#   and starts the service on the simulated line, which survives a SIGHUP
#   and writes a UTF-8 driver log with RFC 3339 stamps; the examples build
#   against the installed development files; a purge leaves nothing behind;
# - the Windows zip unpacked, and the DLL host tests run against its DLL.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
debs=(build/package/dist/*_"$version"-*.deb)
bundle=build/win32/dist/quorlan-dll-$version-win32.zip
[[ -n $version && -f ${debs[0]} && -f $bundle ]] || {
  echo "check-package: run 'make package' first" >&2
  exit 1
}

work=$(mktemp -d)
server=
cleanup() {
  if [[ -n $server ]]; then kill "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }
fail() {
  echo "check-package: $*" >&2
  exit 1
}
# Waits up to 30 s for a command to succeed.
wait_for() {
  for _ in $(seq 300); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

step "lintian ${debs[*]##*/}"
lintian --fail-on error --display-info "${debs[@]}" | tee "$work/lintian.txt"
echo "lintian: $(grep -c '^E:' "$work/lintian.txt" || true) errors," \
  "$(grep -c '^W:' "$work/lintian.txt" || true) warnings," \
  "$(grep -c '^I:' "$work/lintian.txt" || true) notes"

step "dpkg --root: install into a fresh tree"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
# This machine's packages, without ours should it have them installed.
awk -v RS= -v ORS='\n\n' '!/^Package: (quorlan|quorlan-hq|libquorlan-dev)\n/' /var/lib/dpkg/status \
  >"$root/var/lib/dpkg/status"
cp /var/lib/dpkg/arch "$root/var/lib/dpkg/arch" 2>/dev/null || true
find /var/lib/dpkg/info -name '*.list' ! -name 'quorlan.list' ! -name 'quorlan-hq.list' \
  ! -name 'libquorlan-dev*.list' \
  -exec cp -t "$root/var/lib/dpkg/info" {} +
dpkg=(dpkg --root="$root" --force-script-chrootless)
"${dpkg[@]}" --install "${debs[@]}"
dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Conffiles}\n' quorlan >"$work/conffiles.txt"
for conffile in /etc/quorlan/station.toml /etc/logrotate.d/quorlan; do
  grep -q "^ $conffile " "$work/conffiles.txt" || fail "$conffile is not a conffile"
done
dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Conffiles}\n' quorlan-hq | grep -q '^ /etc/quorlan/hq.toml ' ||
  fail "/etc/quorlan/hq.toml is not a conffile"
for package in quorlan quorlan-hq libquorlan-dev; do
  grep -qx 'License: Apache-2.0' "$root/usr/share/doc/$package/copyright" ||
    fail "the copyright file of $package does not say Apache-2.0"
done
[[ -L $root/etc/systemd/system/multi-user.target.wants/quorlan.service ]] ||
  fail "postinst did not enable quorlan.service"
dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Package} ${Version}: ${Depends}\n' \
  quorlan quorlan-hq libquorlan-dev 2>/dev/null || true

step "the installed command"
quorlan=$root/usr/bin/quorlan
"$quorlan" --version | tee "$work/version.txt"
grep -qw "$version" "$work/version.txt" || fail "quorlan --version does not say $version"
(cd "$work" && "$quorlan" --log "$work/demo.log" demo >"$work/demo.txt") ||
  fail "quorlan demo failed: $(tail -n 5 "$work/demo.txt")"
tail -n 3 "$work/demo.txt"
for page in quorlan quorlan-status quorlan-demo quorlan-serve; do
  [[ -f $root/usr/share/man/man1/$page.1.gz ]] || fail "no manual page $page(1)"
done
for page in "$root"/usr/share/man/man1/*.1.gz; do
  man -l "$page" >/dev/null 2>"$work/man.txt"
  [[ ! -s $work/man.txt ]] || fail "man $(basename "$page"): $(cat "$work/man.txt")"
done
completion=$root/usr/share/bash-completion/completions/quorlan
# shellcheck disable=SC2016  # expanded by the inner bash
words=$(PATH="$root/usr/bin:$PATH" bash -c '
  source /usr/share/bash-completion/bash_completion; source "$1"
  COMP_WORDS=(quorlan st); COMP_CWORD=1; COMP_LINE="quorlan st"; COMP_POINT=${#COMP_LINE}
  _quorlan; echo "${COMPREPLY[*]}"' _ "$completion")
[[ " $words " == *" status "* ]] || fail "bash completion of 'quorlan st' offers '$words'"

step "systemd-analyze verify quorlan.service"
unit=$root/lib/systemd/system/quorlan.service
# verify wants the unit's programs and manual pages where the unit names them;
# they are in the tree, so the copy it checks names them there.
mkdir -p "$work/verify"
sed "s|/usr/bin/quorlan|$root/usr/bin/quorlan|g" "$unit" >"$work/verify/quorlan.service"
MANPATH=$root/usr/share/man systemd-analyze verify "$work/verify/quorlan.service" 2>&1 |
  tee "$work/verify.txt"
[[ ! -s $work/verify.txt ]] || fail "systemd-analyze verify complained"
systemd-analyze security --offline=true "$work/verify/quorlan.service" 2>&1 | tail -n 1
# shellcheck disable=SC2016  # systemd's $MAINPID, as written in the unit
grep -qx 'ExecReload=/bin/kill -HUP $MAINPID' "$unit" || fail "systemctl reload sends no SIGHUP"

step "head office: quorlan-hq.service and its configuration"
hq_unit=$root/lib/systemd/system/quorlan-hq.service
sed "s|/usr/bin/quorlan-hq|$root/usr/bin/quorlan-hq|g" "$hq_unit" >"$work/verify/quorlan-hq.service"
MANPATH=$root/usr/share/man systemd-analyze verify "$work/verify/quorlan-hq.service" 2>&1 |
  tee "$work/verify-hq.txt"
[[ ! -s $work/verify-hq.txt ]] || fail "systemd-analyze verify complained of quorlan-hq.service"
grep -q '^ExecStart=/usr/bin/quorlan-hq --config /etc/quorlan/hq.toml$' "$hq_unit" ||
  fail "quorlan-hq.service does not read /etc/quorlan/hq.toml"
for example in acl.example passwords.example; do
  [[ -f $root/usr/share/doc/quorlan-hq/examples/$example ]] || fail "no example $example"
done
# The shipped configuration is read whole: what stops it is only the
# password file the administrator has yet to write.
set +e
"$root/usr/bin/quorlan-hq" --config "$root/etc/quorlan/hq.toml" >"$work/hq.txt" 2>&1
hq_status=$?
set -e
[[ $hq_status -eq 2 ]] && grep -q 'hq-mqtt.password' "$work/hq.txt" ||
  fail "quorlan-hq on the shipped configuration: exit $hq_status, $(cat "$work/hq.txt")"

step "logrotate /etc/logrotate.d/quorlan"
logrotate=$root/etc/logrotate.d/quorlan
grep -q 'systemctl reload quorlan' "$logrotate" || fail "logrotate does not reload the service"
# Debug mode reads the file and rotates nothing.
logrotate --debug --state "$work/logrotate.state" "$logrotate" >"$work/logrotate.txt" 2>&1 ||
  fail "logrotate cannot read its file: $(cat "$work/logrotate.txt")"
! grep -qi 'error' "$work/logrotate.txt" || fail "logrotate: $(grep -i error "$work/logrotate.txt")"

step "the service's first start: the token, then the default configuration"
state=$work/state
logs=$work/logs
mkdir -p "$state" "$logs"
# The unit's own ExecStartPre line, with systemd's escapes undone.
make_token=$(sed -n 's/^ExecStartPre=//p' "$unit" | sed 's/\$\$/$/g; s/\\\\/\\/g')
STATE_DIRECTORY=$state eval "$make_token"
STATE_DIRECTORY=$state eval "$make_token"  # a second start keeps the token
[[ $(cat "$state/admin.token") =~ ^[0-9a-f]{32}$ ]] || fail "bad admin token"
[[ $(stat -c %a "$state/admin.token") == 600 ]] || fail "the admin token is readable by others"
sed "s|/var/lib/quorlan|$state|g; s|/var/log/quorlan|$logs|g" "$root/etc/quorlan/station.toml" \
  >"$work/station.toml"
for documented in '^# tls_cert = ' '^# tls_key = ' '^unpaid_limit = 2 ' '^# audit_log = ' \
  '^# driver_log_level = ' '^# cors_origins = ' '^# max_connections = ' '^# drive_off_after = '; do
  grep -q "$documented" "$work/station.toml" || fail "station.toml does not document /$documented/"
done
"$quorlan" serve --check --config "$work/station.toml" >"$work/check.txt" 2>&1 ||
  fail "serve --check rejects the shipped configuration: $(cat "$work/check.txt")"
"$quorlan" serve --config "$work/station.toml" --listen 127.0.0.1:0 >"$work/serve.txt" 2>&1 &
server=$!
# It prints its address once it listens.
wait_for grep -q '^http://127.0.0.1:[0-9]*/' "$work/serve.txt" ||
  fail "the service did not start on the default configuration: $(cat "$work/serve.txt")"
address=$(grep -o '^http://127.0.0.1:[0-9]*' "$work/serve.txt")
curl -fsS "$address/api/v1/health"
echo
curl -fsS -o "$work/dispensers.json" -H "Authorization: Bearer $(cat "$state/admin.token")" \
  "$address/api/v1/dispensers" || fail "the admin token was refused"
head -c 160 "$work/dispensers.json"
echo
# logrotate's reload: the service reopens its logs and runs on.
mv "$logs/driver.log" "$logs/driver.log-rotated"
kill -HUP "$server"
curl -fsS -o /dev/null "$address/api/v1/health" || fail "the service did not survive SIGHUP"
kill -TERM "$server"
wait "$server" || fail "quorlan serve did not end cleanly on SIGTERM"
server=
[[ -s $state/station.db && -s $logs/driver.log-rotated ]] || fail "no database or driver log"
# UTF-8 lines with an RFC 3339 stamp each, no CR.
! grep -q $'\r' "$logs/driver.log-rotated" || fail "the driver log has CR line ends"
iconv -f UTF-8 -t UTF-8 "$logs/driver.log-rotated" >/dev/null || fail "the driver log is not UTF-8"
stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}(Z|[+-][0-9]{2}:[0-9]{2}) '
! grep -Evq "$stamp" "$logs/driver.log-rotated" || fail "a driver log line without its stamp"
head -n 2 "$logs/driver.log-rotated"

# The examples, as a user of libquorlan-dev builds them: with CMake's
# find_package, then each source with the compiler and pkg-config.
step "the examples against the installed development files"
cmake -S "$source/examples" -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/examples"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
export PKG_CONFIG_SYSROOT_DIR=$root
export PKG_CONFIG_LIBDIR=$root/usr/lib/$multiarch/pkgconfig:$root/usr/share/pkgconfig
read -ra flags <<<"$(pkg-config --cflags --libs quorlan)"
mapfile -t examples < <(find "$source/examples" -name '*.cpp')
for example in "${examples[@]}"; do
  c++ -std=c++20 -o "$work/$(basename "$example" .cpp)" "$example" "${flags[@]}"
  echo "pkg-config: built $(basename "$example")"
done
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR

step "dpkg --purge"
mapfile -t ours < <(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Package}\n' \
  quorlan quorlan-hq libquorlan-dev 2>/dev/null)
"${dpkg[@]}" --purge "${ours[@]}"
left=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o \( -type f -o -type l \) -print)
[[ -z $left ]] || fail "the purge left files behind: $left"

step "the Windows bundle $(basename "$bundle")"
unzip -q "$bundle" -d "$work/bundle"
folder=$work/bundle/quorlan-dll-$version-win32
(cd "$folder" && find . -type f | sort) | tee "$work/bundle.txt"
diff <(printf '%s\n' ./Quorlan.dll ./README.txt ./docs/abi.md ./sdk/pascal/QuorlanDriver.pas) \
  "$work/bundle.txt" || fail "unexpected files in the bundle"
strings -el "$folder/Quorlan.dll" | grep -qx "$version" || fail "Quorlan.dll is not version $version"
cmake --build --preset win32 --target host_tests host_random_calls pascal_host >/dev/null
# The host programs load Quorlan.dll from their own folder: only the zip's is there.
for program in tests/win32/host_tests.exe tests/win32/host_random_calls.exe \
  tests/win32/pascal/PascalHost.exe; do
  name=$(basename "$program")
  cp "build/win32/$program" "$folder/"
  (cd "$folder" && "$source/cmake/wine-run.sh" "$source/build/win32/wineprefix" "./$name" \
    >"$work/$name.txt" 2>&1) || fail "$name against the zip's DLL: $(tail -n 20 "$work/$name.txt")"
  echo "$name: $(grep -E '^\[  PASSED  \]|passed|PASS' "$work/$name.txt" | tail -n 1)"
done
echo
echo "check-package: all checks passed"
