#pragma once
// FileDescriptor: the one owner of a POSIX file descriptor. Closed when the owner is destroyed or
// reset, never twice; moving hands the descriptor on and leaves -1 behind. Not thread-safe: one owner
// at a time, as with any value. close() is there for callers that must see close's own error (a
// delayed write on some file systems fails only there); the destructor ignores it.

#include <unistd.h>
#include <utility>

namespace platform {

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now and answers close's result (0 when there was nothing to close).
    int close() { return m_fd < 0 ? 0 : ::close(std::exchange(m_fd, -1)); }

private:
    int m_fd{-1};
};

} // namespace platform
