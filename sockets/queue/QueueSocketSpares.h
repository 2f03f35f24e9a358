#pragma once
// What a socket keeps for its next requests instead of going back to the heap each time: spare objects
// handed over whole through a few atomic slots, and the allocator that takes a request's record (and
// the bookkeeping of its buffer) from them. A request is made on the caller's thread and let go on the
// socket queue or the delegate's, so the heap would hand each block from one thread's arena to another
// and take that arena's lock; the slots take one exchange each way.

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <new>

namespace sockets {

// Up to N spares of T, kept and taken from any thread; `dispose` ends those still kept at the end.
template <class T, size_t N, void (*dispose)(T*)> class SpareSlots {
public:
    SpareSlots() = default;
    SpareSlots(const SpareSlots&) = delete;
    SpareSlots& operator=(const SpareSlots&) = delete;
    ~SpareSlots() {
        for (auto& slot : m_slots) {
            if (T* spare = slot.load(std::memory_order_acquire))
                dispose(spare);
        }
    }

    // A kept spare, or nullptr when none is.
    T* take() {
        for (auto& slot : m_slots) {
            if (slot.load(std::memory_order_relaxed) == nullptr)
                continue;
            if (T* spare = slot.exchange(nullptr, std::memory_order_acquire))
                return spare;
        }
        return nullptr;
    }

    // False when every slot is full: the caller disposes of `spare` itself.
    bool keep(T* spare) {
        for (auto& slot : m_slots) {
            T* empty = nullptr;
            if (slot.load(std::memory_order_relaxed) == nullptr &&
                slot.compare_exchange_strong(empty, spare, std::memory_order_release,
                                             std::memory_order_relaxed))
                return true;
        }
        return false;
    }

private:
    std::array<std::atomic<T*>, N> m_slots{};
};

// Blocks of one size for request records; larger requests go to the heap as usual.
class RecordRecycler {
public:
    static constexpr size_t kRecordSize = 256;

    void* take(size_t size) {
        if (size > kRecordSize)
            return ::operator new(size);
        void* block = m_spares.take();
        return block ? block : ::operator new(kRecordSize);
    }

    void give(void* block, size_t size) {
        if (size > kRecordSize || !m_spares.keep(block))
            ::operator delete(block);
    }

private:
    static void release(void* block) { ::operator delete(block); }

    SpareSlots<void, 8, &RecordRecycler::release> m_spares;
};

// Allocates through a socket's recycler, which each record it made keeps alive.
template <class T> class RecordAllocator {
public:
    using value_type = T;
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

    explicit RecordAllocator(std::shared_ptr<RecordRecycler> recycler)
        : m_recycler(std::move(recycler)) {}
    template <class U>
    RecordAllocator(const RecordAllocator<U>& other) // NOLINT: rebinding, as allocators convert
        : m_recycler(other.recycler()) {}

    T* allocate(size_t count) { return static_cast<T*>(m_recycler->take(count * sizeof(T))); }
    void deallocate(T* block, size_t count) { m_recycler->give(block, count * sizeof(T)); }

    const std::shared_ptr<RecordRecycler>& recycler() const { return m_recycler; }
    template <class U> bool operator==(const RecordAllocator<U>& other) const {
        return m_recycler == other.recycler();
    }

private:
    std::shared_ptr<RecordRecycler> m_recycler;
};

} // namespace sockets
