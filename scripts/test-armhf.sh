#!/usr/bin/env bash
# Cross-builds the launcher and the stand-in application library for the
# device's platform (ARM Linux, hard-float, glibc) into build-armhf/ and runs
# the launcher's end-to-end tests on those ARM binaries under qemu-arm.
# Needs the armhf packages of scripts/install-deps.sh --all.
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

for tool in arm-linux-gnueabihf-g++ qemu-arm; do
    if ! command -v "$tool" >/dev/null; then
        echo "test-armhf.sh: $tool is missing; run scripts/install-deps.sh --all" >&2
        exit 1
    fi
done

cmake -S . -B build-armhf -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake \
    -DOSTRA_BUILD_HEXMEND=OFF
cmake --build build-armhf -j"$jobs"

# Core files of the emulated crashes would land in the test folders; the
# tests look at how the process ended, not at cores.
ulimit -c 0
(cd build-armhf && ctest --output-on-failure -j"$jobs")
