#pragma once
// The reachability flags: how a target could be reached right now, with the platform's bit values
// (callers test them bit by bit and log them, so the numbers are the platform's own).

#include <cstdint>
#include <string>

namespace platform {

using ReachabilityFlags = uint32_t;

inline constexpr ReachabilityFlags kReachabilityFlagsTransientConnection = 1u << 0;
inline constexpr ReachabilityFlags kReachabilityFlagsReachable = 1u << 1;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionOnTraffic = 1u << 3;
inline constexpr ReachabilityFlags kReachabilityFlagsInterventionRequired = 1u << 4;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionOnDemand = 1u << 5;
inline constexpr ReachabilityFlags kReachabilityFlagsIsLocalAddress = 1u << 16;
inline constexpr ReachabilityFlags kReachabilityFlagsIsDirect = 1u << 17;
inline constexpr ReachabilityFlags kReachabilityFlagsIsWWAN = 1u << 18;

// "reachable|local|direct", "none" for 0: for logs and test messages.
std::string reachabilityFlagsDescription(ReachabilityFlags flags);

} // namespace platform
