#!/usr/bin/env bash
# Builds the page: the core compiled to WebAssembly with Debian's emscripten,
# over zlib compiled from Debian's own source of the version the native
# build links, and writes the static site to build-web/site/ (index.html and
# what it loads; open it from its folder or serve it from any static host).
#   scripts/build-web.sh
set -eu
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-web

scripts/install-deps.sh --web
# emscripten's JavaScript tools take Debian's acorn from there, also when
# another build of node is the one installed.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

# zlib: the library's C files, compiled as its own build would.
scripts/fetch-source.sh zlib "$out/zlib-src"
zlib=$out/zlib
if [ ! -f "$zlib/libz.a" ] || [ "$out/zlib-src/.fetched-source" -nt "$zlib/libz.a" ]; then
    rm -rf "$zlib"
    mkdir -p "$zlib/obj" "$zlib/include"
    for c in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
        inftrees trees uncompr zutil; do
        emcc -O2 -DHAVE_UNISTD_H -DHAVE_STDARG_H -c "$out/zlib-src/$c.c" -o "$zlib/obj/$c.o"
    done
    emar rcs "$zlib/libz.a" "$zlib"/obj/*.o
    cp "$out/zlib-src/zlib.h" "$out/zlib-src/zconf.h" "$zlib/include/"
fi

emcmake cmake -S . -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DZLIB_INCLUDE_DIR="$zlib/include" -DZLIB_LIBRARY="$zlib/libz.a" >/dev/null
cmake --build "$out/cmake" -j"$(nproc)" --target hexmend-core

# The site. From file:// a browser refuses to start a worker from a file
# beside the page, or to fetch one: the worker's code (the core and
# web/worker.js) reaches the page as a string in core.js, loaded by a
# script tag, and the worker is started from a Blob of it.
site=$out/site
rm -rf "$site"
mkdir -p "$site"
cp web/index.html web/style.css web/page.js "$site/"
python3 - "$out/cmake/bin/hexmend-core.js" "$out/cmake/bin/hexmend-core.wasm" web/worker.js \
    "$site/core.js" <<'PY'
import base64, json, sys
core, wasm, worker, target = sys.argv[1:5]
# The wasm is handed to the core as bytes: the core then neither fetches it
# nor looks for it beside the page.
source = (open(core, encoding="utf-8").read() + "\n" +
          "const kCoreWasmBase64 = " +
          json.dumps(base64.b64encode(open(wasm, "rb").read()).decode("ascii")) + ";\n" +
          open(worker, encoding="utf-8").read())
with open(target, "w", encoding="utf-8") as out:
    out.write("// The worker's code: the hexmend core, its WebAssembly and web/worker.js.\n")
    out.write("window.HEXMEND_WORKER_SOURCE = " + json.dumps(source) + ";\n")
PY
echo "site written to $site (open $site/index.html)"
