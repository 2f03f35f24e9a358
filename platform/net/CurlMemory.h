#pragma once
// Memory for curl. Curl allocates a receive buffer (16 KiB and a byte by default) when a transfer
// starts and frees it when the transfer ends, so a burst of transfers grows the network thread's heap
// by the burst's buffers, and the allocator hands that memory back to the system once the burst is
// over: a trim, its cross-core TLB flush and the page faults that fill the pages again, on every
// burst. Given to curl when it is set up, these functions keep the large blocks curl frees and hand
// them out again; everything else goes straight to the allocator.
//
// Promises: every function is safe from any thread. A block curl frees is kept only while the kept
// bytes stay within a bound; beyond it, and below the smallest size kept, the allocator has it back.
// A block served again holds at least the size asked for (calloc's zeroed). Any block the allocator
// made may be freed through curlFree, whoever allocated it: only blocks these functions made are kept.
// Not promised: kept blocks go back to the system while the process lives.

#include <cstddef>
#include <cstdint>

namespace platform::detail {

// Sets curl up for the process with the functions below; false if curl could not be set up. A curl
// set up before keeps the functions it had: nothing is lost but the reuse.
bool initializeCurlWithKeptBuffers();

// What the kept blocks have done so far.
struct CurlMemoryCounts {
    uint64_t reused{0};  // allocations served with a kept block
    uint64_t kept{0};    // frees that kept their block
    size_t keptBytes{0}; // bytes kept now
};
CurlMemoryCounts curlMemoryCounts();

// The most bytes kept at once.
inline constexpr size_t curlKeptBytesLimit = 3 << 20;

// The functions curl is given.
void* curlMalloc(size_t size);
void curlFree(void* block);
void* curlRealloc(void* block, size_t size);
char* curlStrdup(const char* text);
void* curlCalloc(size_t count, size_t size);

} // namespace platform::detail
