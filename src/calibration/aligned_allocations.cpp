#include "calibration/aligned_allocations.h"

#include <cstdlib>
#include <new>

// The program's operator new and delete live here, next to the scope that
// switches them, so that linking the scope always brings them along. Outside a
// scope they behave as the standard library's: malloc, the new-handler loop,
// std::bad_alloc. Both kinds of storage are released with free.

namespace {

constexpr std::size_t ALIGNMENT = 64;

thread_local int t_scopes = 0;

void* allocate(std::size_t size) {
    if (size == 0) size = 1;
    for (;;) {
        void* p = nullptr;
        if (t_scopes > 0) {
            if (posix_memalign(&p, ALIGNMENT, size) != 0) p = nullptr;
        } else {
            p = std::malloc(size);
        }
        if (p) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

}  // namespace

AlignedAllocations::AlignedAllocations() { ++t_scopes; }
AlignedAllocations::~AlignedAllocations() { --t_scopes; }
bool AlignedAllocations::active() { return t_scopes > 0; }

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
