#!/usr/bin/env bash
# Installs what the build needs on Debian 12, as root; installs nothing that
# is already there, so it is cheap to run before every build.
#   scripts/install-deps.sh native   compilers, libraries, test tools
#   scripts/install-deps.sh win32    adds the i686 cross compiler, Wine, fpc sources
#   scripts/install-deps.sh package  adds, to win32, the packaging and package checks
# win32 and package also install the browser tests' chromium and, once, their
# driver (tests/web, from npm), and the OpenAPI document's linter and
# validator (tests/openapi, from npm).
set -euo pipefail

native=(build-essential cmake ninja-build pkg-config git
        libgtest-dev libgmock-dev googletest libbenchmark-dev
        libasio-dev libcli11-dev libfmt-dev clang clang-format
        libsqlite3-dev libcpp-httplib-dev nlohmann-json3-dev libtomlplusplus-dev libsystemd-dev
        libboost1.81-dev libssl-dev openssl libhowardhinnant-date-dev
        libedit-dev python3 tshark
        mosquitto libmosquitto-dev postgresql-15 libpqxx-dev)
win32=(g++-mingw-w64-i686 fpc fpc-source-3.2.2 wine wine32:i386 chromium)
package=(dpkg-dev file help2man lintian man-db systemd unzip bash-completion curl logrotate)

wanted=("${native[@]}")
case "${1:-native}" in
  win32) wanted+=("${win32[@]}") ;;
  package) wanted+=("${win32[@]}" "${package[@]}") ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # tshark reads captures in the tests; it needs no capture privileges.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# playwright-core and axe-core at the versions tests/web/package-lock.json
# pins; playwright-core drives Debian's chromium, so no browser is downloaded. node and npm usually come
# with the machine; Debian's own are the fallback.
[[ "${1:-native}" == native ]] && exit 0
if ! command -v npm >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nodejs npm
fi
tests="$(cd "$(dirname "$0")/.." && pwd)/tests"
if [[ ! -d "$tests/web/node_modules/playwright-core" || ! -d "$tests/web/node_modules/axe-core" ]]; then
  (cd "$tests/web" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
fi
# @redocly/cli, ajv and ajv-formats at the versions tests/openapi/package-lock.json
# pins: the OpenAPI document's lint and its check against real answers.
if [[ ! -d "$tests/openapi/node_modules/@redocly/cli" || ! -d "$tests/openapi/node_modules/ajv-formats" ]]; then
  (cd "$tests/openapi" && npm ci --no-audit --no-fund --loglevel=error)
fi
