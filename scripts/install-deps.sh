#!/usr/bin/env bash
# Installs the packages the builds and tests need, and only those that are missing,
# so that a machine that already has them never touches apt.
#   install-deps.sh [GROUP...]
# The Linux build of the driver and its tools (cmake, g++ with -m32, the MQTT client
# library) is always installed; the groups add to it:
#   tests     GoogleTest, Google Benchmark, a JSON parser, clang for the fuzz targets, the
#             MinGW cross compiler, and what checking the packages takes: the i386 C and C++
#             runtime that the Debian package depends on, dpkg-shlibdeps, groff for the man
#             pages, unzip; the mosquitto broker and its clients, and openssl for test
#             certificates, for the MQTT tests
#   mqtt      the mosquitto broker and its clients, for the demo's --mqtt
#   helgrind  valgrind and the i386 C library's debug symbols it needs
#   wine      Wine, to run the Windows build
#   qemu      qemu-user, to run i386 programs on a kernel that cannot
# Without a group: tests, helgrind and wine.
set -euo pipefail

[ $# -gt 0 ] || set -- tests helgrind wine
packages=(cmake make g++ g++-multilib libmosquitto-dev:i386)
for group in "$@"; do
  case $group in
    linux) ;;
    tests)
      packages+=(clang libclang-rt-14-dev libgtest-dev:i386 libgmock-dev:i386
        libbenchmark-dev:i386 g++-mingw-w64-i686-posix nlohmann-json3-dev
        libc6:i386 libgcc-s1:i386 libstdc++6:i386 dpkg-dev groff-base unzip
        mosquitto mosquitto-clients openssl) ;;
    mqtt) packages+=(mosquitto mosquitto-clients) ;;
    helgrind) packages+=(valgrind libc6-dbg:i386) ;;
    wine) packages+=(wine wine32:i386) ;;
    qemu) packages+=(qemu-user-static) ;;
    *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || {
    echo "install-deps.sh: these packages are missing and only root can install them: ${missing[*]}" >&2
    exit 1
  }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
echo "installing packages (about a minute on a new machine): ${missing[*]}"
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}" >/dev/null
