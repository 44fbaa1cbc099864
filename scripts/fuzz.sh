#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang and libFuzzer, under the address
# and undefined-behaviour sanitizers (build-fuzz/), and runs each one for a
# bounded time, starting from its committed seeds and regressions.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]     (default 60)
# Inputs that reach new code are kept in build-fuzz/corpus/, not in the
# repository. An input that fails a target is saved in build-fuzz/artifacts/;
# once fixed, it belongs in fuzz/regressions/<target>/, where every ordinary
# build replays it as a test.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets="run value_notation triple"

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DOSTRA_FUZZ=ON -DOSTRA_SANITIZE=address,undefined \
    -DOSTRA_BUILD_LAUNCHER=OFF -DBUILD_TESTING=OFF
cmake --build build-fuzz -j2 --target $(for t in $targets; do printf '%s_fuzzer ' "$t"; done)

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1
for target in $targets; do
    work=build-fuzz/corpus/$target
    artifacts=build-fuzz/artifacts/$target
    mkdir -p "$work" "$artifacts"
    inputs=(fuzz/corpus/"$target")
    [ -d fuzz/regressions/"$target" ] && inputs+=(fuzz/regressions/"$target")
    printf '\n--- %s: %s seconds\n' "$target" "$seconds"
    if ! build-fuzz/bin/"$target"_fuzzer -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
        -artifact_prefix="$artifacts"/ "$work" "${inputs[@]}"; then
        echo "fuzz target $target failed; the input is in $artifacts/" >&2
        exit 1
    fi
done
echo "fuzzing passed"
