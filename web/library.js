// The imports of the core in the page (see web/bindings.cpp): reading the
// user's files, which the worker (web/worker.js) holds as File objects.
mergeInto(LibraryManager.library, {
    hexmend_web_read_range: function (file, offset, n, out) {
        var bytes = Module['hexmendReadRange'](file, offset, n);
        if (bytes === null || bytes.length !== n) {
            return 0;
        }
        HEAPU8.set(bytes, out);
        return 1;
    },
});
