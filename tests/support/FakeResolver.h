#pragma once
// A resolver for tests, so no test ever sends a real name lookup: numeric hosts and "localhost" are
// answered locally, names in the table get their addresses or their EAI_* error, every other name
// gets EAI_NONAME. Lookups are recorded, and can be held on a gate to test what happens while one is
// under way. Install it for a scope with ScopedResolver. Thread-safe.
//
//     auto resolver = std::make_shared<FakeResolver>();
//     resolver->add("api.example.test", {"127.0.0.1"});
//     resolver->fail("down.example.test", EAI_AGAIN);
//     ScopedResolver installed(resolver);

#include "platform/net/Resolver.h"
#include "tests/peers/HttpGate.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace liveapp::test {

class FakeResolver final : public platform::Resolver {
public:
    // Replaces what the table says about `host` (compared without regard to case).
    void add(std::string host, std::vector<std::string> numericAddresses);
    void fail(std::string host, int eaiCode);
    void remove(std::string_view host);

    // Every lookup waits on the gate before it answers (null: no more holding).
    void holdLookups(std::shared_ptr<HttpGate> gate);
    // Blocks until no lookup is under way; false if the generous deadline passes first. A test that
    // held a lookup waits for it after opening the gate, so the lookup never outlives the test.
    bool waitUntilIdle(std::chrono::milliseconds deadline = std::chrono::seconds(60)) const;

    // The hosts asked for, in order (numeric ones and "localhost" included).
    std::vector<std::string> lookups() const;
    size_t lookupCount(std::string_view host) const;

    int resolve(std::string_view host, std::string_view service, const platform::ResolveHints& hints,
                std::vector<platform::ResolvedAddress>& out) override;

private:
    struct Answer {
        int error{0};
        std::vector<std::string> addresses;
    };

    int answer(std::string_view host, std::string_view service, const platform::ResolveHints& hints,
               std::vector<platform::ResolvedAddress>& out);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_idle;
    size_t m_underWay{0};
    std::map<std::string, Answer> m_table;
    std::vector<std::string> m_lookups;
    std::shared_ptr<HttpGate> m_gate;
};

// Installs a resolver for its lifetime and puts the previous one back afterwards.
class ScopedResolver {
public:
    explicit ScopedResolver(std::shared_ptr<platform::Resolver> resolver);
    ~ScopedResolver();
    ScopedResolver(const ScopedResolver&) = delete;
    ScopedResolver& operator=(const ScopedResolver&) = delete;

private:
    std::shared_ptr<platform::Resolver> m_previous;
};

} // namespace liveapp::test
