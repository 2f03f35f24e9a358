#pragma once
// IP socket-address records as the run-loop sockets read them: the host text, which raises
// NSInternalInconsistencyException with the given reason when the system cannot write it, and the port
// in host order. Records are read only when the bytes hold a whole one. Pure functions, any thread.

#include "platform/foundation/Data.h"

#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <string>

namespace sockets {

std::string hostText(const sockaddr_in& address, const char* failure);
std::string hostText(const sockaddr_in6& address, const char* failure);
// By the family field: AF_INET is IPv4, anything else IPv6; nullopt for bytes too short for that record.
std::optional<std::string> hostTextOf(const platform::Data& address, const char* failure4,
                                      const char* failure6);
// The port lies at the same place in both records; 0 for bytes too short to hold one.
uint16_t portOf(const std::optional<platform::Data>& address);

// The record the bytes begin with, when they hold a whole one.
template <typename Record> std::optional<Record> recordOf(const platform::Data& address) {
    if (address.length() < sizeof(Record))
        return std::nullopt;
    Record record{};
    std::memcpy(&record, address.bytes(), sizeof record);
    return record;
}

} // namespace sockets
