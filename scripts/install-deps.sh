#!/usr/bin/env bash
# Installs what the build needs on Debian 12, as root; installs nothing that
# is already there, so it is cheap to run before every build.
#   scripts/install-deps.sh native   compilers, libraries, test tools
#   scripts/install-deps.sh win32    adds the i686 cross compiler, Wine, fpc sources
set -euo pipefail

native=(build-essential cmake ninja-build pkg-config git
        libgtest-dev libgmock-dev googletest libbenchmark-dev
        libasio-dev libcli11-dev libfmt-dev clang clang-format
        python3 libedit-dev libtomlplusplus-dev nlohmann-json3-dev)
win32=(g++-mingw-w64-i686 fpc fpc-source-3.2.2 wine wine32:i386)

wanted=("${native[@]}")
if [[ "${1:-native}" == win32 ]]; then wanted+=("${win32[@]}"); fi

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
