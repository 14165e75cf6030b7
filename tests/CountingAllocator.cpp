// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "CountingAllocator.h"

#include <cstdlib>
#include <new>

namespace CountingAllocator {
std::atomic<bool> armed{false};
std::atomic<long> allocations{0};
} // namespace CountingAllocator

namespace {

void* Allocate(std::size_t size, std::size_t align = 0) {
    if (CountingAllocator::armed.load(std::memory_order_relaxed))
        CountingAllocator::allocations.fetch_add(1, std::memory_order_relaxed);
    if (align == 0)
        return std::malloc(size == 0 ? 1 : size);
    // aligned_alloc wants a nonzero size that is a multiple of the alignment.
    return std::aligned_alloc(align, (size / align + 1) * align);
}

void* OrThrow(void* p) {
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

} // namespace

void* operator new(std::size_t size) {
    return OrThrow(Allocate(size));
}
void* operator new[](std::size_t size) {
    return OrThrow(Allocate(size));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return OrThrow(Allocate(size, std::size_t(a)));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return OrThrow(Allocate(size, std::size_t(a)));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Allocate(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Allocate(size, std::size_t(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
