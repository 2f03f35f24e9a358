#pragma once
// A non-blocking pipe for tests that watch descriptors; either end may be closed early with reset().

#include "platform/foundation/FileDescriptor.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace liveapp::test {

struct Pipe {
    Pipe() {
        int fds[2]{-1, -1};
        EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        reader.reset(fds[0]);
        writer.reset(fds[1]);
    }
    void put(const char* text) const { ASSERT_GT(::write(writer.get(), text, std::strlen(text)), 0); }
    // What was readable, read until nothing was left.
    std::string drain() const {
        std::string result;
        char buffer[256];
        for (ssize_t got; (got = ::read(reader.get(), buffer, sizeof buffer)) > 0;)
            result.append(buffer, size_t(got));
        return result;
    }

    platform::FileDescriptor reader;
    platform::FileDescriptor writer;
};

} // namespace liveapp::test
