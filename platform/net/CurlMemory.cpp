#include "platform/net/CurlMemory.h"

#include "platform/foundation/Immortal.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <malloc.h>
#include <mutex>
#include <vector>

namespace platform::detail {

namespace {

// Kept blocks fall in classes of whole granules. A request is served from the class its size rounds
// up to, and allocated at that class's size when the class is empty; a freed block goes to the class
// its usable size rounds down to. So every block in a class holds at least the class's size.
constexpr size_t kGranule = 1024;
// Blocks of the kept sizes start on a page of their own, and only such a block is a candidate for
// keeping: a free tells the rest apart by the address alone, without asking the allocator the block's
// size, which reads the heap beyond the block (a cache miss on nearly every one of curl's many small
// frees).
constexpr size_t kKeptAlignment = 4096;
constexpr size_t kSmallestClass = 8; // below 8 KiB the allocator's own caches serve well
constexpr size_t kLargestClass = 64; // curl's upload buffer, the largest it allocates as a rule

struct Kept {
    std::mutex mutex;
    std::array<std::vector<void*>, kLargestClass + 1> classes;
    size_t bytes{0};
    uint64_t reused{0};
    uint64_t kept{0};
};

Kept& kept() {
    static Immortal<Kept> instance;
    return instance.get();
}

bool isKeptClass(size_t granules) {
    return granules >= kSmallestClass && granules <= kLargestClass;
}

size_t granulesFor(size_t size) {
    return size / kGranule + (size % kGranule != 0);
}

} // namespace

// A block of at least `size` bytes, kept or new.
void* curlMalloc(size_t size) {
    size_t granules = granulesFor(size);
    if (!isKeptClass(granules))
        return std::malloc(size);
    auto& k = kept();
    {
        std::lock_guard lock(k.mutex);
        if (auto& blocks = k.classes[granules]; !blocks.empty()) {
            void* block = blocks.back();
            blocks.pop_back();
            k.bytes -= granules * kGranule;
            ++k.reused;
            return block;
        }
    }
    void* block = nullptr;
    return ::posix_memalign(&block, kKeptAlignment, granules * kGranule) == 0 ? block : nullptr;
}

void curlFree(void* block) {
    if (!block)
        return;
    if (reinterpret_cast<uintptr_t>(block) % kKeptAlignment != 0) {
        std::free(block);
        return;
    }
    size_t granules = ::malloc_usable_size(block) / kGranule;
    if (isKeptClass(granules)) {
        auto& k = kept();
        std::lock_guard lock(k.mutex);
        if (k.bytes + granules * kGranule <= curlKeptBytesLimit) {
            k.classes[granules].push_back(block);
            k.bytes += granules * kGranule;
            ++k.kept;
            return;
        }
    }
    std::free(block);
}

void* curlRealloc(void* block, size_t size) {
    return std::realloc(block, size);
}

char* curlStrdup(const char* text) {
    return ::strdup(text);
}

void* curlCalloc(size_t count, size_t size) {
    if (count != 0 && size > SIZE_MAX / count)
        return nullptr;
    size_t total = count * size;
    if (!isKeptClass(granulesFor(total)))
        return std::calloc(count, size);
    void* block = curlMalloc(total);
    if (block)
        std::memset(block, 0, total); // a kept block holds what it held before
    return block;
}

CurlMemoryCounts curlMemoryCounts() {
    auto& k = kept();
    std::lock_guard lock(k.mutex);
    return {k.reused, k.kept, k.bytes};
}

bool initializeCurlWithKeptBuffers() {
    return curl_global_init_mem(CURL_GLOBAL_DEFAULT, curlMalloc, curlFree, curlRealloc, curlStrdup,
                                curlCalloc) == CURLE_OK;
}

} // namespace platform::detail
