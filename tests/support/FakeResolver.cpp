#include "tests/support/FakeResolver.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

namespace liveapp::test {

namespace {

std::string lowercase(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool makeAddress(std::string_view numeric, uint16_t port, const platform::ResolveHints& hints,
                 platform::ResolvedAddress& out) {
    std::string text(numeric);
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    out = {};
    out.socketType = hints.socketType ? hints.socketType : SOCK_STREAM;
    out.protocol = out.socketType == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
    sockaddr_in v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        if (hints.family == AF_INET6)
            return false;
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        std::memcpy(&out.address, &v4, sizeof v4);
        out.family = AF_INET;
        out.length = sizeof v4;
        return true;
    }
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        if (hints.family == AF_INET)
            return false;
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        std::memcpy(&out.address, &v6, sizeof v6);
        out.family = AF_INET6;
        out.length = sizeof v6;
        return true;
    }
    return false;
}

bool isNumeric(std::string_view host) {
    platform::ResolvedAddress scratch;
    return makeAddress(host, 0, {}, scratch);
}

} // namespace

void FakeResolver::add(std::string host, std::vector<std::string> numericAddresses) {
    std::lock_guard lock(m_mutex);
    m_table[lowercase(host)] = Answer{0, std::move(numericAddresses)};
}

void FakeResolver::fail(std::string host, int eaiCode) {
    std::lock_guard lock(m_mutex);
    m_table[lowercase(host)] = Answer{eaiCode, {}};
}

void FakeResolver::remove(std::string_view host) {
    std::lock_guard lock(m_mutex);
    m_table.erase(lowercase(host));
}

void FakeResolver::holdLookups(std::shared_ptr<HttpGate> gate) {
    std::lock_guard lock(m_mutex);
    m_gate = std::move(gate);
}

std::vector<std::string> FakeResolver::lookups() const {
    std::lock_guard lock(m_mutex);
    return m_lookups;
}

size_t FakeResolver::lookupCount(std::string_view host) const {
    std::lock_guard lock(m_mutex);
    std::string key = lowercase(host);
    return std::count_if(m_lookups.begin(), m_lookups.end(),
                         [&](const std::string& h) { return lowercase(h) == key; });
}

bool FakeResolver::waitUntilIdle(std::chrono::milliseconds deadline) const {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, deadline, [this] { return m_underWay == 0; });
}

int FakeResolver::resolve(std::string_view host, std::string_view service,
                          const platform::ResolveHints& hints, std::vector<platform::ResolvedAddress>& out) {
    out.clear();
    std::shared_ptr<HttpGate> gate;
    {
        std::lock_guard lock(m_mutex);
        m_lookups.emplace_back(host);
        ++m_underWay;
        gate = m_gate;
    }
    if (gate)
        gate->wait();
    int code = answer(host, service, hints, out);
    std::lock_guard lock(m_mutex);
    if (--m_underWay == 0)
        m_idle.notify_all();
    return code;
}

int FakeResolver::answer(std::string_view host, std::string_view service, const platform::ResolveHints& hints,
                         std::vector<platform::ResolvedAddress>& out) {
    uint16_t port = 0;
    if (!service.empty()) {
        auto [end, ec] = std::from_chars(service.data(), service.data() + service.size(), port);
        if (ec != std::errc() || end != service.data() + service.size())
            return EAI_SERVICE;
    }
    std::vector<std::string> numeric;
    if (host.empty()) {
        if (!(hints.flags & AI_PASSIVE))
            return EAI_NONAME;
        numeric = {"0.0.0.0", "::"};
    } else if (isNumeric(host)) {
        numeric = {std::string(host)};
    } else if (lowercase(host) == "localhost") {
        numeric = {"127.0.0.1", "::1"};
    } else if (hints.flags & AI_NUMERICHOST) {
        return EAI_NONAME;
    } else {
        std::lock_guard lock(m_mutex);
        auto found = m_table.find(lowercase(host));
        if (found == m_table.end())
            return EAI_NONAME;
        if (found->second.error != 0)
            return found->second.error;
        numeric = found->second.addresses;
    }
    for (const auto& text : numeric) {
        platform::ResolvedAddress address;
        if (makeAddress(text, port, hints, address))
            out.push_back(address);
    }
    return out.empty() ? EAI_NONAME : 0;
}

ScopedResolver::ScopedResolver(std::shared_ptr<platform::Resolver> resolver)
    : m_previous(platform::Resolver::current()) {
    platform::Resolver::install(std::move(resolver));
}

ScopedResolver::~ScopedResolver() {
    platform::Resolver::install(std::move(m_previous));
}

} // namespace liveapp::test
