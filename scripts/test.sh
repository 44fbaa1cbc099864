#!/usr/bin/env bash
# Builds everything and runs every test:
#   the native build (build/), the same tests in an address and
#   undefined-behaviour sanitizer build (build-asan/), formatting, the fuzz
#   targets for a bounded time, the Windows build under wine
#   (build-windows/), the armhf build of hexmend and the launcher under qemu
#   (build-armhf/) and the page (build-web/, tested in headless Chromium by
#   scripts/test-web.sh).
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/install-deps.sh --all

step() { printf '\n===== %s =====\n' "$*"; }

step "native build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOSTRA_BUILD_HEXMEND=ON -DOSTRA_BUILD_LAUNCHER=ON -DBUILD_TESTING=ON
cmake --build build -j"$jobs"
step "native tests"
(cd build && ctest --output-on-failure -j"$jobs")

step "sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTRA_SANITIZE=address,undefined \
    -DOSTRA_BUILD_HEXMEND=ON -DOSTRA_BUILD_LAUNCHER=ON -DBUILD_TESTING=ON
cmake --build build-asan -j"$jobs"
step "sanitizer tests"
(cd build-asan && ctest --output-on-failure -j"$jobs")

step "formatting"
scripts/check-format.sh

for extra in scripts/test-windows.sh scripts/test-armhf.sh scripts/test-web.sh scripts/fuzz.sh; do
    if [ -x "$extra" ]; then
        step "$extra"
        "$extra"
    fi
done
step "all tests passed"
