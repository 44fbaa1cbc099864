#!/usr/bin/env bash
# Cross-builds the launcher, the stand-in application library, hexmend and
# hexmend-diff for the device's platform (ARM Linux, hard-float, glibc) into
# build-armhf/ and runs their tests on those ARM binaries under qemu-arm: the
# launcher's end-to-end tests, and hexmend's end-to-end suite and
# hexmend-diff's round trips. hexmend and hexmend-diff are static and run
# under qemu-arm alone, with nothing of this machine's ARM libraries.
# Needs the cross tools of scripts/install-deps.sh --all; makes the armhf root
# (build-armhf-sysroot/) with scripts/armhf-sysroot.sh.
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

for tool in arm-linux-gnueabihf-g++ qemu-arm file; do
    if ! command -v "$tool" >/dev/null; then
        echo "test-armhf.sh: $tool is missing; run scripts/install-deps.sh --all" >&2
        exit 1
    fi
done

scripts/armhf-sysroot.sh build-armhf-sysroot
cmake -S . -B build-armhf -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake \
    -DOSTRA_BUILD_HEXMEND=ON -DOSTRA_BUILD_LAUNCHER=ON
cmake --build build-armhf -j"$jobs"

# Each is one file to copy onto the device: no ELF interpreter, no shared
# library. Their sizes as built and stripped, as copied onto the device.
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
for program in hexmend hexmend-diff; do
    kind=$(file -b "build-armhf/bin/$program")
    case "$kind" in
    *ARM*", statically linked"*) ;;
    *)
        echo "test-armhf.sh: $program is not a static ARM program: $kind" >&2
        exit 1
        ;;
    esac
    arm-linux-gnueabihf-strip -o "$stripped" "build-armhf/bin/$program"
    echo "$program: $kind"
    echo "$program: $(stat -c %s "build-armhf/bin/$program") bytes, $(stat -c %s "$stripped") stripped"
done

# The launcher's tests name their loader prefix (-L, the armhf root)
# themselves; this one would also lend the static programs' file lookups a
# prefix.
unset QEMU_LD_PREFIX

# Core files of the emulated crashes would land in the test folders; the
# tests look at how the process ended, not at cores.
ulimit -c 0
(cd build-armhf && ctest --output-on-failure -j"$jobs")
