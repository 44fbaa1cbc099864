#!/usr/bin/env bash
# Builds the page (scripts/build-web.sh, into build-web/site/) and tests it
# in headless chromium against the native hexmend and hexmend-diff of
# build/ (built here when missing):
#   scripts/test-web.sh [web_tests.py options]      e.g. -k "block switches"
# Needs chromium, its WebDriver and Debian's selenium for Python
# (scripts/install-deps.sh --web, which it runs).
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh --web
scripts/build-web.sh

if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRA_BUILD_LAUNCHER=OFF \
        -DBUILD_TESTING=OFF
fi
cmake --build build -j"${JOBS:-$(nproc)}" --target hexmend hexmend-diff

# Debian's selenium is a package of Debian's own Python.
exec /usr/bin/python3 hexmend/web/tests/web_tests.py --site build-web/site \
    --hexmend build/bin/hexmend --hexmend-diff build/bin/hexmend-diff "$@"
