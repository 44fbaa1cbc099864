#!/usr/bin/env bash
# Builds the page (scripts/build-web.sh, into build-web/site/) and tests it
# in headless chromium and Firefox against the native hexmend and hexmend-diff of
# build/ (built here when missing):
#   scripts/test-web.sh [web_tests.py options]      e.g. -k "block switches"
# Needs chromium, its WebDriver, Firefox and Debian's selenium for Python
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

# Debian's selenium is a package of Debian's own Python. The same tests in
# both browsers; each reports and exits on its own.
status=0
for browser in chromium firefox; do
    /usr/bin/python3 hexmend/web/tests/web_tests.py --browser "$browser" --site build-web/site \
        --hexmend build/bin/hexmend --hexmend-diff build/bin/hexmend-diff "$@" || status=1
done
exit $status
