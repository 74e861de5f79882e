#!/usr/bin/env bash
# The demo: builds the driver for Linux and lets the host runner load it and show what it
# reports about itself.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh linux
mkdir -p build
cmake -S . -B build/demo -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i386.cmake \
  -DDEVADO_TESTS=OFF -DDEVADO_BENCH=OFF >build/demo.configure.log 2>&1 ||
  { cat build/demo.configure.log; exit 1; }
cmake --build build/demo -j2 --target devado devado-host >/dev/null
exec build/demo/bin/devado-host "$@"
