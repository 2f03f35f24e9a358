#include "platform/net/HomeBlockPool.h"

#include <algorithm>
#include <new>
#include <sanitizer/asan_interface.h>
#include <utility>

namespace platform::detail {

namespace {

// Sizes kept: steps of 128 bytes up to 4 KiB (a small body, a response with its fields), then
// powers of two up to 64 KiB.
constexpr size_t kStep = 128;
constexpr size_t kSteppedUpTo = 4096;
constexpr size_t kLargest = 64 * 1024;
constexpr size_t kNoClass = SIZE_MAX;
// What the home keeps of one size: enough for a burst of requests to find its blocks again, with
// fewer of the larger sizes.
constexpr size_t kKeptBytesPerClass = 128 * 1024;
constexpr size_t kMostKept = 128;
constexpr size_t kFewestKept = 4;

size_t classOf(size_t bytes, size_t alignment) {
    if (bytes > kLargest || alignment > alignof(std::max_align_t))
        return kNoClass;
    if (bytes <= kSteppedUpTo)
        return bytes == 0 ? 0 : (bytes - 1) / kStep;
    size_t index = kSteppedUpTo / kStep;
    for (size_t size = kSteppedUpTo * 2; size < bytes; size *= 2)
        ++index;
    return index;
}

size_t sizeOf(size_t sizeClass) {
    if (sizeClass < kSteppedUpTo / kStep)
        return (sizeClass + 1) * kStep;
    return kSteppedUpTo << (sizeClass - kSteppedUpTo / kStep + 1);
}

// A kept block is no one's: under the address sanitizer a use of one after it was let go of is
// reported as it would be without the pool. Its first bytes link it into the lists.
void markKept(void* block, size_t sizeClass, size_t linkSize) {
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(block) + linkSize, sizeOf(sizeClass) - linkSize);
}

void markInUse(void* block, size_t sizeClass) {
    ASAN_UNPOISON_MEMORY_REGION(block, sizeOf(sizeClass));
}

size_t mostKept(size_t sizeClass) {
    return std::clamp(kKeptBytesPerClass / sizeOf(sizeClass), kFewestKept, kMostKept);
}

} // namespace

HomeBlockPool::~HomeBlockPool() {
    freeAll(m_returned.exchange(nullptr, std::memory_order_acquire));
    for (Kept& kept : m_kept)
        freeAll(kept.first);
}

void HomeBlockPool::makeHome() {
    m_home.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void* HomeBlockPool::do_allocate(size_t bytes, size_t alignment) {
    size_t sizeClass = classOf(bytes, alignment);
    if (sizeClass == kNoClass)
        return alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__
                   ? ::operator new(bytes, std::align_val_t(alignment))
                   : ::operator new(bytes);
    if (std::this_thread::get_id() == m_home.load(std::memory_order_relaxed)) {
        Kept& kept = m_kept[sizeClass];
        if (!kept.first)
            takeReturned();
        if (FreeBlock* block = kept.first) {
            kept.first = block->next;
            --kept.count;
            m_reused.fetch_add(1, std::memory_order_relaxed);
            markInUse(block, sizeClass);
            return block;
        }
    }
    return ::operator new(sizeOf(sizeClass));
}

void HomeBlockPool::do_deallocate(void* block, size_t bytes, size_t alignment) {
    size_t sizeClass = classOf(bytes, alignment);
    if (sizeClass == kNoClass) {
        if (alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__)
            ::operator delete(block, std::align_val_t(alignment));
        else
            ::operator delete(block);
        return;
    }
    markKept(block, sizeClass, sizeof(FreeBlock));
    auto* free = new (block) FreeBlock{m_returned.load(std::memory_order_relaxed), sizeClass};
    while (!m_returned.compare_exchange_weak(free->next, free, std::memory_order_release,
                                             std::memory_order_relaxed)) {
    }
}

void HomeBlockPool::takeReturned() {
    // Taken whole, so no other taker can pull a block out from under this one's walk.
    FreeBlock* block = m_returned.exchange(nullptr, std::memory_order_acquire);
    while (block) {
        FreeBlock* next = block->next;
        Kept& kept = m_kept[block->sizeClass];
        if (kept.count < mostKept(block->sizeClass)) {
            block->next = kept.first;
            kept.first = block;
            ++kept.count;
        } else {
            markInUse(block, block->sizeClass);
            ::operator delete(block);
        }
        block = next;
    }
}

void HomeBlockPool::freeAll(FreeBlock* block) {
    while (block) {
        FreeBlock* next = block->next;
        markInUse(block, block->sizeClass);
        ::operator delete(block);
        block = next;
    }
}

} // namespace platform::detail
