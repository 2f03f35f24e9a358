#include "platform/net/NetworkInterfaces.h"

#include "platform/foundation/Immortal.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ifaddrs.h>
#include <mutex>
#include <net/if.h>
#include <set>
#include <utility>

namespace platform {

namespace {

// Never destroyed: reachability's watcher may still list interfaces while static destructors run.
struct Settings {
    std::mutex mutex;
    NetworkInterfaces::Listing listing;
    NetworkInterfacesConfiguration configuration;
};

Settings& settings() {
    static detail::Immortal<Settings> storage;
    return storage.get();
}

std::string numericText(const sockaddr_storage& storage) {
    char text[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text, sizeof text);
    else if (storage.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text, sizeof text);
    return text;
}

bool parseInto(int family, std::string_view text, sockaddr_storage& out) {
    std::string copy(text);
    out = {};
    out.ss_family = static_cast<sa_family_t>(family);
    if (family == AF_INET)
        return inet_pton(AF_INET, copy.c_str(), &reinterpret_cast<sockaddr_in*>(&out)->sin_addr) == 1;
    return inet_pton(AF_INET6, copy.c_str(), &reinterpret_cast<sockaddr_in6*>(&out)->sin6_addr) == 1;
}

// The address bytes of an IPv4 or IPv6 socket address, empty for any other family.
std::string_view addressBytes(const sockaddr* address) {
    if (!address)
        return {};
    if (address->sa_family == AF_INET)
        return {reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr), 4};
    if (address->sa_family == AF_INET6)
        return {reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr),
                16};
    return {};
}

bool hasUsableIPv4(const std::vector<InterfaceAddress>& entries, const std::string& systemName) {
    for (auto& entry : entries) {
        if (entry.systemName == systemName && entry.family == AF_INET && entry.isUp() &&
            entry.addressText() != "0.0.0.0")
            return true;
    }
    return false;
}

} // namespace

std::optional<InterfaceAddress> InterfaceAddress::make(std::string systemName, std::string_view address,
                                                       std::string_view netmask, unsigned flags) {
    InterfaceAddress entry;
    entry.family = address.find(':') == std::string_view::npos ? AF_INET : AF_INET6;
    if (!parseInto(entry.family, address, entry.address) || !parseInto(entry.family, netmask, entry.netmask))
        return std::nullopt;
    entry.name = systemName;
    entry.systemName = std::move(systemName);
    entry.flags = flags;
    return entry;
}

std::string InterfaceAddress::addressText() const {
    return numericText(address);
}
std::string InterfaceAddress::netmaskText() const {
    return numericText(netmask);
}
bool InterfaceAddress::isLoopback() const {
    return flags & IFF_LOOPBACK;
}
bool InterfaceAddress::isUp() const {
    return flags & IFF_UP;
}

bool InterfaceAddress::holds(const sockaddr* other) const {
    auto mine = addressBytes(reinterpret_cast<const sockaddr*>(&address));
    return !mine.empty() && mine == addressBytes(other);
}

bool InterfaceAddress::sameNetwork(const sockaddr* other) const {
    auto mine = addressBytes(reinterpret_cast<const sockaddr*>(&address));
    auto mask = addressBytes(reinterpret_cast<const sockaddr*>(&netmask));
    auto theirs = addressBytes(other);
    if (mine.empty() || theirs.size() != mine.size() || mask.size() != mine.size())
        return false;
    for (size_t i = 0; i < mine.size(); ++i) {
        if ((mine[i] & mask[i]) != (theirs[i] & mask[i]))
            return false;
    }
    return true;
}

std::optional<std::vector<InterfaceAddress>> NetworkInterfaces::list() {
    Listing listing;
    NetworkInterfacesConfiguration configuration;
    {
        auto& state = settings();
        std::lock_guard lock(state.mutex);
        listing = state.listing;
        configuration = state.configuration;
    }
    auto entries = listing ? listing() : systemListing();
    if (!entries)
        return std::nullopt;
    return applyAliases(std::move(*entries), configuration);
}

std::optional<std::array<uint8_t, 6>> NetworkInterfaces::hardwareAddress(std::string_view name) {
    auto entries = list();
    if (!entries)
        return std::nullopt;
    auto entry =
        std::find_if(entries->begin(), entries->end(), [&](const auto& e) { return e.name == name; });
    if (entry == entries->end() || entry->systemName.find('/') != std::string::npos)
        return std::nullopt;
    std::ifstream file("/sys/class/net/" + entry->systemName + "/address");
    std::string text;
    std::array<unsigned, 6> parts{};
    char tail = 0;
    if (!std::getline(file, text) ||
        std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &parts[4], &parts[5], &tail) != 6)
        return std::nullopt;
    std::array<uint8_t, 6> address{};
    std::transform(parts.begin(), parts.end(), address.begin(),
                   [](unsigned b) { return static_cast<uint8_t>(b); });
    return address;
}

std::optional<std::vector<InterfaceAddress>> NetworkInterfaces::systemListing() {
    ifaddrs* head = nullptr;
    if (getifaddrs(&head) != 0)
        return std::nullopt;
    std::vector<InterfaceAddress> entries;
    for (ifaddrs* item = head; item; item = item->ifa_next) {
        if (!item->ifa_addr || !item->ifa_name)
            continue;
        int family = item->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        InterfaceAddress entry;
        entry.name = entry.systemName = item->ifa_name;
        entry.flags = item->ifa_flags;
        entry.family = family;
        size_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        std::memcpy(&entry.address, item->ifa_addr, length);
        if (item->ifa_netmask && item->ifa_netmask->sa_family == family)
            std::memcpy(&entry.netmask, item->ifa_netmask, length);
        else
            entry.netmask.ss_family = static_cast<sa_family_t>(family);
        entries.push_back(std::move(entry));
    }
    freeifaddrs(head);
    return entries;
}

void NetworkInterfaces::installListing(Listing listing) {
    Listing previous; // released after the lock: it may hold a fake that goes with it
    auto& state = settings();
    std::lock_guard lock(state.mutex);
    previous = std::exchange(state.listing, std::move(listing));
}

NetworkInterfacesConfiguration NetworkInterfaces::configuration() {
    auto& state = settings();
    std::lock_guard lock(state.mutex);
    return state.configuration;
}

void NetworkInterfaces::setConfiguration(NetworkInterfacesConfiguration configuration) {
    auto& state = settings();
    std::lock_guard lock(state.mutex);
    state.configuration = std::move(configuration);
}

bool NetworkInterfaces::isCellular(std::string_view systemName) {
    auto patterns = configuration().cellularPatterns;
    for (auto& pattern : patterns) {
        if (matchesPattern(systemName, pattern))
            return true;
    }
    return false;
}

bool NetworkInterfaces::matchesPattern(std::string_view name, std::string_view pattern) {
    // Iterative glob with one backtrack point: '*' is the only special character.
    size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<InterfaceAddress>
NetworkInterfaces::applyAliases(std::vector<InterfaceAddress> entries,
                                const NetworkInterfacesConfiguration& configuration) {
    std::vector<std::string> systemNames;
    for (auto& entry : entries) {
        if (std::find(systemNames.begin(), systemNames.end(), entry.systemName) == systemNames.end())
            systemNames.push_back(entry.systemName);
    }
    auto isLoopback = [&](const std::string& systemName) {
        for (auto& entry : entries) {
            if (entry.systemName == systemName && entry.isLoopback())
                return true;
        }
        return false;
    };

    std::set<std::string> taken;
    std::vector<std::pair<std::string, std::string>> renames; // system name → alias
    for (auto& alias : configuration.aliases) {
        if (std::find(systemNames.begin(), systemNames.end(), alias.name) != systemNames.end())
            taken.insert(alias.name);
    }
    for (auto& alias : configuration.aliases) {
        if (taken.count(alias.name))
            continue;
        std::string chosen;
        for (int pass = 0; pass < 2 && chosen.empty(); ++pass) {
            for (auto& pattern : alias.patterns) {
                for (auto& systemName : systemNames) {
                    if (taken.count(systemName) || isLoopback(systemName) ||
                        !matchesPattern(systemName, pattern))
                        continue;
                    if (pass == 0 && !hasUsableIPv4(entries, systemName))
                        continue;
                    chosen = systemName;
                    break;
                }
                if (!chosen.empty())
                    break;
            }
        }
        if (chosen.empty())
            continue;
        taken.insert(chosen);
        renames.emplace_back(chosen, alias.name);
    }
    for (auto& entry : entries) {
        for (auto& [systemName, alias] : renames) {
            if (entry.systemName == systemName)
                entry.name = alias;
        }
    }
    return entries;
}

} // namespace platform
