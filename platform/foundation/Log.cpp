#include "platform/foundation/Log.h"

#include <cstdio>
#include <string>

namespace platform {

void logMessage(std::string_view text) {
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr); // one call: stdio locks the stream around it
    std::fflush(stderr);
}

} // namespace platform
