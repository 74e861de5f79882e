#!/usr/bin/env bash
# Installs the packages the builds and tests need, and only those that are missing,
# so that a machine that already has them never touches apt.
#   install-deps.sh         everything: Linux and Windows builds, tests, Wine
#   install-deps.sh linux   only what the Linux build of the driver and its tools need
set -euo pipefail

packages=(cmake make g++ g++-multilib)
if [ "${1:-all}" != "linux" ]; then
  packages+=(
    clang libclang-rt-14-dev valgrind
    libgtest-dev:i386 libgmock-dev:i386 libc6-dbg:i386 libbenchmark-dev:i386
    g++-mingw-w64-i686-posix
    wine wine32:i386
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}" >/dev/null
