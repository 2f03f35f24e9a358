#pragma once
// The client library logs process-wide. We keep it at its error level and print each message as
// "MESSAGE: <text>" on standard error. Safe to call from any thread, any number of times.

namespace livecore::rtmp {

void installRTMPLogging();

} // namespace livecore::rtmp
