// The program's allocation functions: large blocks are advised to the host
// as large buffers before anything is written to them. A run holds the
// source and the patch file's values in a few large strings (a whole zlib
// stream's content can be a single line), and filling freshly mapped memory
// page by small page costs more than the work done on it.
//
// Part of the program only, not of its libraries: tests and fuzzers keep the
// standard allocation, and so does a sanitizer build, whose runtime
// replaces these functions itself.

#include <cstddef>
#include <cstdlib>
#include <new>

#include "host/platform.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define HEXMEND_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HEXMEND_SANITIZER_ALLOCATOR 1
#endif

#if !defined(HEXMEND_SANITIZER_ALLOCATOR)

namespace {

// Blocks from this size on are worth the advice (a few large pages).
constexpr std::size_t kLargeBlock = std::size_t{8} << 20;

}  // namespace

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    if (size >= kLargeBlock) {
        hexmend::PlatformHost().AdviseLargeBuffer(static_cast<char*>(block), size);
    }
    return block;
}

void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

#endif
