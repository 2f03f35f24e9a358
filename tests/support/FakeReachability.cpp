#include "tests/support/FakeReachability.h"

#include <functional>
#include <map>
#include <mutex>
#include <net/if.h>

namespace liveapp::test {

using namespace platform;

class FakeReachability::Provider final : public ReachabilityProvider {
public:
    std::optional<ReachabilityFlags> flagsForTarget(const ReachabilityTarget& target) override {
        std::function<void(const std::string&)> afterRead;
        std::optional<ReachabilityFlags> flags;
        const auto key = target.description();
        {
            std::lock_guard lock(m_mutex);
            flags = flagsLocked(key);
            afterRead = m_afterRead;
        }
        if (afterRead)
            afterRead(key);
        return flags;
    }

    std::optional<ReachabilityFlags> flagsLocked(const std::string& key) const {
        if (auto found = m_targetFlags.find(key); found != m_targetFlags.end())
            return found->second;
        if (key == "localhost" || key == "::1" || key.rfind("127.", 0) == 0)
            return localFlags;
        switch (m_network) {
        case Network::None:
            return ReachabilityFlags{0};
        case Network::WiFi:
            return wifiFlags;
        case Network::Cellular:
            return cellularFlags;
        }
        return ReachabilityFlags{0};
    }

    uint64_t addChangeObserver(std::function<void()> changed) override {
        std::lock_guard lock(m_mutex);
        uint64_t id = m_nextId++;
        m_observers.emplace(id, std::make_shared<std::function<void()>>(std::move(changed)));
        return id;
    }

    void removeChangeObserver(uint64_t id) override {
        std::shared_ptr<std::function<void()>> removed;
        std::lock_guard lock(m_mutex);
        if (auto found = m_observers.find(id); found != m_observers.end()) {
            removed = std::move(found->second);
            m_observers.erase(found);
        }
    }

    std::optional<std::vector<InterfaceAddress>> interfaces() {
        std::lock_guard lock(m_mutex);
        if (m_listingFails)
            return std::nullopt;
        if (m_scripted)
            return *m_scripted;
        auto entries = loopbackInterfaces();
        if (m_network == Network::WiFi) {
            if (auto entry = InterfaceAddress::make("en0", m_wifiAddress, "255.255.255.0",
                                                    IFF_UP | IFF_RUNNING | IFF_BROADCAST))
                entries.push_back(*entry);
        } else if (m_network == Network::Cellular) {
            if (auto entry = InterfaceAddress::make("pdp_ip0", "10.64.0.20", "255.255.255.255",
                                                    IFF_UP | IFF_RUNNING | IFF_POINTOPOINT))
                entries.push_back(*entry);
        }
        return entries;
    }

    template <class Change> void change(Change&& apply) {
        std::vector<std::shared_ptr<std::function<void()>>> observers;
        {
            std::lock_guard lock(m_mutex);
            apply();
            for (auto& [id, observer] : m_observers)
                observers.push_back(observer);
        }
        for (auto& observer : observers)
            (*observer)();
    }

    mutable std::mutex m_mutex;
    std::function<void(const std::string&)> m_afterRead;
    Network m_network{Network::WiFi};
    std::map<std::string, std::optional<ReachabilityFlags>> m_targetFlags;
    std::string m_wifiAddress{"192.168.1.20"};
    std::optional<std::vector<InterfaceAddress>> m_scripted;
    bool m_listingFails{false};
    std::map<uint64_t, std::shared_ptr<std::function<void()>>> m_observers;
    uint64_t m_nextId{1};
};

FakeReachability::FakeReachability(Network network)
    : m_provider(std::make_shared<Provider>()) {
    m_provider->m_network = network;
    ReachabilityProvider::install(m_provider);
    std::weak_ptr<Provider> weak = m_provider;
    NetworkInterfaces::installListing([weak]() -> std::optional<std::vector<InterfaceAddress>> {
        if (auto provider = weak.lock())
            return provider->interfaces();
        return std::nullopt;
    });
}

FakeReachability::~FakeReachability() {
    NetworkInterfaces::installListing({});
    ReachabilityProvider::install(nullptr);
}

void FakeReachability::setNetwork(Network network) {
    m_provider->change([&] { m_provider->m_network = network; });
}

void FakeReachability::setAfterRead(std::function<void(const std::string& target)> afterRead) {
    std::lock_guard lock(m_provider->m_mutex);
    m_provider->m_afterRead = std::move(afterRead);
}

void FakeReachability::setTargetFlags(const std::string& target, std::optional<ReachabilityFlags> flags) {
    m_provider->change([&] { m_provider->m_targetFlags[target] = flags; });
}

void FakeReachability::clearTargetFlags(const std::string& target) {
    m_provider->change([&] { m_provider->m_targetFlags.erase(target); });
}

void FakeReachability::setWiFiAddress(std::string address) {
    m_provider->change([&] { m_provider->m_wifiAddress = std::move(address); });
}

void FakeReachability::scriptInterfaces(std::vector<InterfaceAddress> entries) {
    m_provider->change([&] {
        m_provider->m_scripted = std::move(entries);
        m_provider->m_listingFails = false;
    });
}

void FakeReachability::failInterfaceListing() {
    m_provider->change([&] { m_provider->m_listingFails = true; });
}

void FakeReachability::poke() {
    m_provider->change([] {});
}

size_t FakeReachability::observerCount() const {
    std::lock_guard lock(m_provider->m_mutex);
    return m_provider->m_observers.size();
}

std::vector<InterfaceAddress> FakeReachability::loopbackInterfaces() {
    std::vector<InterfaceAddress> entries;
    unsigned flags = IFF_UP | IFF_RUNNING | IFF_LOOPBACK;
    if (auto entry = InterfaceAddress::make("lo", "127.0.0.1", "255.0.0.0", flags))
        entries.push_back(*entry);
    if (auto entry = InterfaceAddress::make("lo", "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", flags))
        entries.push_back(*entry);
    return entries;
}

} // namespace liveapp::test
