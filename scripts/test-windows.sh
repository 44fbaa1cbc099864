#!/usr/bin/env bash
# Cross-builds hexmend for Windows with mingw-w64 into build-windows/ (the
# programs are build-windows/bin/hexmend.exe and hexmend-diff.exe, each one
# file that needs only system DLLs) and runs the end-to-end suite against
# them under wine: headless, with the wine prefix inside build-windows/.
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

cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
    -DOSTRA_BUILD_LAUNCHER=OFF
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
