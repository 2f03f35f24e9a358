#include "sdk/librtmp/RTMPLog.h"

#include <cstdarg>
#include <cstdio>
#include <librtmp/log.h>
#include <mutex>

namespace livecore::rtmp {

namespace {

void printMessage(int level, const char* format, va_list arguments) {
    if (level > RTMP_LOGERROR)
        return;
    char text[2048];
    std::vsnprintf(text, sizeof(text), format, arguments);
    std::fprintf(stderr, "MESSAGE: %s\n", text);
}

} // namespace

void installRTMPLogging() {
    static std::once_flag once;
    std::call_once(once, [] {
        RTMP_LogSetLevel(RTMP_LOGERROR);
        RTMP_LogSetCallback(printMessage);
    });
}

} // namespace livecore::rtmp
