#include "platform/foundation/Fatal.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace platform {

void fatalError(std::string_view message) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

void fatalErrorRethrowing(std::string_view message) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::terminate();
}

} // namespace platform
