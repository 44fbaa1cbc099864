#!/usr/bin/env bash
# Builds hexmend and runs it on the bundled example: examples/example.patch
# patches examples/firmware.bin into build/example/firmware-patched.bin.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh --hexmend
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRA_BUILD_LAUNCHER=OFF \
    -DBUILD_TESTING=OFF
cmake --build build --target hexmend -j"$(nproc)"

# A relative patch-file name is taken from the folder that holds hexmend.
build/bin/hexmend ../../examples/example.patch
echo
echo "Patched bytes (build/example/firmware-patched.bin):"
od -A x -t x1z -v build/example/firmware-patched.bin
