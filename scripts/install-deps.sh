#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (as root, or through
# sudo). Safe to run again: apt-get only adds what is missing.
#   scripts/install-deps.sh --hexmend  just what building hexmend needs
#   scripts/install-deps.sh            native build, tests and tools
#   scripts/install-deps.sh --web      what building the page and checking it needs
#   scripts/install-deps.sh --all      also the page and the Windows and armhf cross builds
set -eu

run() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

minimal=(build-essential cmake ninja-build zlib1g-dev)
native=(
    build-essential cmake ninja-build pkg-config python3 git dpkg-dev
    zlib1g-dev libgtest-dev
    qtbase5-dev qttools5-dev-tools libqt5network5 libssl-dev openssl
    fonts-dejavu-core tzdata qt5-image-formats-plugins netpbm gifsicle
    clang libclang-rt-14-dev clang-format
    groff-base
    acl
    xfsprogs
    time
)
# The page (scripts/build-web.sh) and its checks in a real browser.
web=(emscripten dpkg-dev python3 chromium chromium-driver python3-selenium firefox-esr)
# The armhf libraries are not installed on this machine: scripts/armhf-sysroot.sh
# unpacks them into a root of their own.
cross=(
    mingw-w64 libz-mingw-w64-dev wine wine64
    qemu-user crossbuild-essential-armhf file
)

packages=("${native[@]}")
if [ "${1:-}" = "--hexmend" ]; then
    packages=("${minimal[@]}")
fi
if [ "${1:-}" = "--web" ]; then
    packages=("${minimal[@]}" "${web[@]}")
fi
if [ "${1:-}" = "--all" ]; then
    packages+=("${web[@]}" "${cross[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    # A mirror caught in the middle of a sync fails an index or two; the
    # install below then says plainly if a package really cannot be had.
    for try in 1 2 3; do
        run apt-get update -q && break
        echo "install-deps: apt-get update failed (try $try of 3)" >&2
        sleep 5
    done
    run apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=900 "${missing[@]}"
fi
