#pragma once
// Where posters leave work for a single drainer, without a shared lock: a post is one compare-and-swap,
// and the drainer takes everything posted so far with one exchange, oldest first.
// Who drains is settled by a token: the post that finds the intake idle returns true, and its poster
// then owns the token (it must see that a drain happens); every other post returns false, a drain
// being owed already. The owner gives the token back with release(), which fails, leaving the token
// with it, when something was posted since its last take().
// post() and claimIdle() are safe from any thread; take(), hasPosted(), newestPost() and release() belong
// to the token's owner.
// What is never taken is destroyed with the intake.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace platform::detail {

// Spare nodes of one type. A node is made on the poster's thread and finished with on the drainer's,
// and the allocator is slow at frees from another thread, so finished nodes go back to a shared stack
// in runs, from which a posting thread takes them all at once (pushes and take-alls only: no ABA).
// A thread uses the nodes it finished itself first. Taken nodes are not walked or counted on the
// way in (each was last written by another core): the one to hand out next is fetched ahead instead.
// The shared stack keeps a bounded number.
template <class Node> class NodeRecycler {
public:
    static std::unique_ptr<Node> obtain() {
        Local* local = mine();
        if (local && !local->spares)
            local->refill();
        if (!local || !local->spares)
            return std::make_unique<Node>();
        std::unique_ptr<Node> node(local->spares);
        local->spares = node->next;
        if (local->spares)
            __builtin_prefetch(local->spares, 1);
        node->next = nullptr;
        return node;
    }

    static void give(std::unique_ptr<Node> node) {
        Local* local = mine();
        if (!local)
            return; // the thread is ending: back to the allocator
        node->next = local->finished;
        local->finished = node.release();
        if (!local->finishedTail)
            local->finishedTail = local->finished;
        if (++local->finishedCount == runLength)
            local->handBackFinished();
    }

private:
    static constexpr size_t runLength = 64;
    static constexpr int64_t sharedLimit = 4096;

    struct Local {
        Node* spares{nullptr};
        Node* finished{nullptr};
        Node* finishedTail{nullptr};
        size_t finishedCount{0};
        bool& gone;

        explicit Local(bool& goneFlag)
            : gone(goneFlag) {}
        Local(const Local&) = delete;
        Local& operator=(const Local&) = delete;
        ~Local() {
            handBackFinished();
            if (spares) {
                Node* tail = spares;
                int64_t count = 1;
                for (; tail->next; tail = tail->next)
                    ++count;
                handBack(std::exchange(spares, nullptr), tail, count);
            }
            gone = true;
        }

        void refill() {
            if (finished) {
                spares = std::exchange(finished, nullptr);
                finishedTail = nullptr;
                finishedCount = 0;
                return;
            }
            spares = shared().exchange(nullptr, std::memory_order_acquire);
            // Runs pushed while this took the stack stay uncounted until the next take: the bound is
            // briefly loose, never lost.
            if (spares)
                sharedCount().store(0, std::memory_order_relaxed);
        }
        void handBackFinished() {
            if (!finished)
                return;
            handBack(std::exchange(finished, nullptr), std::exchange(finishedTail, nullptr),
                     int64_t(std::exchange(finishedCount, 0)));
        }
        static void handBack(Node* head, Node* tail, int64_t count) {
            if (sharedCount().load(std::memory_order_relaxed) >= sharedLimit) {
                while (head)
                    std::unique_ptr<Node> node(std::exchange(head, head->next));
                return;
            }
            sharedCount().fetch_add(count, std::memory_order_relaxed);
            Node* seen = shared().load(std::memory_order_relaxed);
            do {
                tail->next = seen;
            } while (!shared().compare_exchange_weak(seen, head, std::memory_order_release,
                                                     std::memory_order_relaxed));
        }
    };

    // Null once the thread's own spares are gone (a queue may drop work from another thread-local
    // object's destructor, after them).
    static Local* mine() {
        thread_local bool gone = false;
        thread_local Local local(gone);
        return gone ? nullptr : &local;
    }
    static std::atomic<Node*>& shared() {
        static std::atomic<Node*> top{nullptr};
        return top;
    }
    // Only a bound on what the shared stack keeps: updated after the fact, so briefly off.
    static std::atomic<int64_t>& sharedCount() {
        static std::atomic<int64_t> count{0};
        return count;
    }
};

template <class T> class DrainIntake {
    struct Node {
        T item{};
        Node* next{nullptr};
    };
    using Recycler = NodeRecycler<Node>;

public:
    // Items in posting order, owned by whoever holds the batch.
    class Batch {
    public:
        Batch() = default;
        Batch(Batch&& other) noexcept
            : m_head(std::exchange(other.m_head, nullptr))
            , m_tail(std::exchange(other.m_tail, nullptr)) {}
        Batch& operator=(Batch&&) = delete;
        ~Batch() {
            while (!empty())
                pop();
        }

        bool empty() const { return m_head == nullptr; }
        T pop() {
            std::unique_ptr<Node> node(m_head);
            m_head = node->next;
            if (!m_head)
                m_tail = nullptr;
            T item = std::move(node->item);
            node->item = T{}; // a spare holds nothing of what it carried
            Recycler::give(std::move(node));
            return item;
        }
        void append(Batch&& other) {
            if (other.empty())
                return;
            if (m_tail)
                m_tail->next = other.m_head;
            else
                m_head = other.m_head;
            m_tail = other.m_tail;
            other.m_head = other.m_tail = nullptr;
        }

    private:
        friend class DrainIntake;
        Node* m_head{nullptr};
        Node* m_tail{nullptr};
    };

    DrainIntake() = default;
    DrainIntake(const DrainIntake&) = delete;
    DrainIntake& operator=(const DrainIntake&) = delete;
    ~DrainIntake() { Batch leftover = collect(m_top.load(std::memory_order_acquire)); }

    // True when this post made the intake busy: the caller now owns the token.
    bool post(T item) {
        std::unique_ptr<Node> made = Recycler::obtain();
        made->item = std::move(item);
        Node* node = made.release();
        Node* seen = m_top.load(std::memory_order_relaxed);
        do {
            node->next = seen;
        } while (
            !m_top.compare_exchange_weak(seen, node, std::memory_order_acq_rel, std::memory_order_relaxed));
        // The node may already be taken and freed: only `seen` is ours to read.
        return seen == nullptr;
    }

    Batch take() { return collect(m_top.exchange(drainingMark(), std::memory_order_acq_rel)); }
    bool hasPosted() const { return m_top.load(std::memory_order_acquire) != drainingMark(); }
    // Changes with every post until the next take: whether more came meanwhile.
    const void* newestPost() const { return m_top.load(std::memory_order_relaxed); }
    // Takes the token of an idle intake without posting: true when the caller now owns it, with nothing
    // to take yet (what is posted meanwhile waits for its take(), and release() tells of it).
    bool claimIdle() {
        Node* expected = nullptr;
        return m_top.compare_exchange_strong(expected, drainingMark(), std::memory_order_acq_rel,
                                             std::memory_order_relaxed);
    }
    bool release() {
        Node* expected = drainingMark();
        return m_top.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    }

private:
    // Stands at the bottom of the posted chain while a drain is owed and everything was taken.
    static Node* drainingMark() {
        static Node mark{};
        return &mark;
    }

    // The posted chain is newest first; a batch is oldest first.
    static Batch collect(Node* chain) {
        Batch batch;
        while (chain && chain != drainingMark()) {
            Node* next = chain->next;
            chain->next = batch.m_head;
            batch.m_head = chain;
            if (!batch.m_tail)
                batch.m_tail = chain;
            chain = next;
        }
        return batch;
    }

    // nullptr: idle. Otherwise a drain is owed: the posts not yet taken, newest first, ending at
    // nullptr (none taken since the intake went busy) or at the draining mark.
    std::atomic<Node*> m_top{nullptr};
};

} // namespace platform::detail
