/* zlib's own one-call compression, timed: the baseline of the replace_zlib
 * measurement of bench.py, which builds and runs it.
 *
 *     zlib_baseline FILE...
 *
 * Reads each file whole, then compresses each with compress2() at the
 * default level, twice, and prints two figures, the seconds for all files
 * together (reading not included):
 *   plain   compress2 as any caller gets it: input and output in memory
 *           from malloc, the output freshly allocated;
 *   strict  zlib's work alone: input and output in large pages where the
 *           system has them (as hexmend asks for its large buffers), the
 *           output touched before the clock starts. */

#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <zlib.h>

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void* Allocate(size_t size, int largePages) {
    if (!largePages) {
        return malloc(size);
    }
    const size_t align = (size_t)2 << 20;
    void* block = NULL;
    if (posix_memalign(&block, align, size) != 0) {
        return NULL;
    }
#ifdef MADV_HUGEPAGE
    madvise(block, size, MADV_HUGEPAGE);
#endif
    return block;
}

static unsigned char* ReadAll(const char* path, uLong* size, int largePages) {
    FILE* f = fopen(path, "rb");
    if (f == NULL || fseek(f, 0, SEEK_END) != 0) {
        return NULL;
    }
    const long length = ftell(f);
    rewind(f);
    unsigned char* data = Allocate((size_t)length + 1, largePages);
    if (data == NULL || fread(data, 1, (size_t)length, f) != (size_t)length) {
        return NULL;
    }
    fclose(f);
    *size = (uLong)length;
    return data;
}

/* Seconds for compressing every file, or a negative value on failure. */
static double CompressAll(int count, char** paths, int strict) {
    double total = 0;
    for (int i = 0; i < count; ++i) {
        uLong size = 0;
        unsigned char* input = ReadAll(paths[i], &size, strict);
        if (input == NULL) {
            fprintf(stderr, "zlib_baseline: cannot read %s\n", paths[i]);
            return -1;
        }
        uLongf length = compressBound(size);
        unsigned char* output = Allocate(length, strict);
        if (output == NULL) {
            fprintf(stderr, "zlib_baseline: out of memory\n");
            return -1;
        }
        if (strict) {
            memset(output, 0, length);
        }
        const double start = Now();
        const int code = compress2(output, &length, input, size, Z_DEFAULT_COMPRESSION);
        total += Now() - start;
        if (code != Z_OK) {
            fprintf(stderr, "zlib_baseline: compress2 failed (%d)\n", code);
            return -1;
        }
        free(output);
        free(input);
    }
    return total;
}

int main(int argc, char** argv) {
    const double plain = CompressAll(argc - 1, argv + 1, 0);
    const double strict = CompressAll(argc - 1, argv + 1, 1);
    if (plain < 0 || strict < 0) {
        return 1;
    }
    printf("%.6f %.6f\n", plain, strict);
    return 0;
}
