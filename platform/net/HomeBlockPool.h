#pragma once
// Room for blocks that one thread (the pool's home) makes and other threads let go of: a response and
// its body, made on the network thread and freed wherever they were delivered. A block let go of
// anywhere goes on a list the home takes whole at its next allocation and reuses, so a free on the
// delivery side takes no lock, least of all the allocator lock the home's own allocations contend for.
//
// Promises: allocate and deallocate are safe from any thread; deallocate makes no system call and
// takes no lock. Only the home reuses blocks (any other thread's allocation asks the allocator).
// Blocks above the largest size kept go straight to the allocator. The pool must outlive its blocks.
// Not promised: memory given back to the system while the pool lives; the home keeps a bounded
// number of blocks of each size, what comes back beyond that it frees.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <thread>

namespace platform::detail {

class HomeBlockPool final : public std::pmr::memory_resource {
public:
    HomeBlockPool() = default;
    ~HomeBlockPool() override;
    HomeBlockPool(const HomeBlockPool&) = delete;
    HomeBlockPool& operator=(const HomeBlockPool&) = delete;

    // The calling thread becomes the home: the one thread whose allocations reuse blocks.
    void makeHome();
    // Allocations the home served with a block let go of before. Any thread.
    uint64_t blocksReused() const { return m_reused.load(std::memory_order_relaxed); }

private:
    struct FreeBlock {
        FreeBlock* next;
        size_t sizeClass;
    };
    struct Kept {
        FreeBlock* first{nullptr};
        size_t count{0};
    };
    static constexpr size_t kClasses = 36;

    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void* block, size_t bytes, size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    void takeReturned();
    static void freeAll(FreeBlock* block);

    std::atomic<std::thread::id> m_home{};
    std::atomic<FreeBlock*> m_returned{nullptr}; // pushed by any thread, taken whole by the home
    std::array<Kept, kClasses> m_kept{};         // the home's alone
    std::atomic<uint64_t> m_reused{0};
};

} // namespace platform::detail
