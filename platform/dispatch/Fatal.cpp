#include "platform/dispatch/Fatal.h"

#include <cstdio>
#include <cstdlib>

namespace platform::detail {

void dispatchFatal(std::string_view message) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace platform::detail
