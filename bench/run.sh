#!/usr/bin/env bash
# Builds hexmend and hexmend-diff for speed (build-bench/) and the page
# (scripts/build-web.sh, build-web/site/), and runs the benchmark with them:
#   bench/run.sh [bench.py options]      e.g. bench/run.sh --size-mib 256 --repeat 1
# Prints a table of figures and ratios against baselines measured in the
# same run; see bench/bench.py for what is measured. Exits with 1 when a row
# misses its goal, and ends at once when a run's output is wrong. The page's
# rows run in headless chromium, driven by Debian's selenium
# (scripts/test-web.sh installs them), so the benchmark runs in Debian's own
# Python. Not part of CI: timings need a quiet machine.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DOSTRA_BUILD_LAUNCHER=OFF >/dev/null
cmake --build build-bench -j2 --target hexmend hexmend-diff >/dev/null
scripts/build-web.sh >/dev/null
exec /usr/bin/python3 bench/bench.py --hexmend build-bench/bin/hexmend --site build-web/site "$@"
