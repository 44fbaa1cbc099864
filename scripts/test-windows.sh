#!/usr/bin/env bash
# Cross-builds hexmend for Windows with mingw-w64 into build-windows/ (the
# programs are build-windows/bin/hexmend.exe and hexmend-diff.exe, each one
# file that needs only system DLLs) and runs the unit tests and the
# end-to-end suite under wine: headless, with the wine prefix inside
# build-windows/. The unit tests are built with GoogleTest from Debian's
# source package, fetched once into build-windows/sources/.
# Needs the mingw-w64 and wine packages of scripts/install-deps.sh --all.
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

for tool in x86_64-w64-mingw32-g++ x86_64-w64-mingw32-objdump wine; do
    if ! command -v "$tool" >/dev/null; then
        echo "test-windows.sh: $tool is missing; run scripts/install-deps.sh --all" >&2
        exit 1
    fi
done

# GoogleTest built with mingw-w64 from the source of the version installed.
gtest_source=build-windows/googletest-src
scripts/fetch-source.sh googletest "$gtest_source"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
    -DOSTRA_BUILD_LAUNCHER=OFF -DOSTRA_GTEST_SOURCE_DIR="$PWD/$gtest_source"
cmake --build build-windows -j"$jobs"

# A release is these files, each on its own: they must import nothing but
# the system's DLLs.
system_dlls='^(kernel32|msvcrt|shlwapi|user32|advapi32|shell32|ntdll)\.dll$'
for program in hexmend.exe hexmend-diff.exe; do
    imports=$(x86_64-w64-mingw32-objdump -p "build-windows/bin/$program" |
        sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
    others=$(printf '%s\n' "$imports" | grep -Ev "$system_dlls" || true)
    if [ -n "$others" ]; then
        echo "test-windows.sh: $program needs DLLs that Windows does not have:" $others >&2
        exit 1
    fi
    echo "$program imports:" $imports
done

# No display: wine's console programs need none.
unset DISPLAY WAYLAND_DISPLAY
(cd build-windows && ctest --output-on-failure -j"$jobs")
