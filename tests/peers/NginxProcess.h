#pragma once
// One nginx for tests and benchmarks, run in the foreground as a single process from a temporary
// prefix of its own (configuration, pid file, logs and temporary folders all inside it). The caller
// writes what the server does; this class writes the lines every such server needs, starts it and
// waits until it accepts connections.
//
// Promises: start() returns once nginx itself answers HTTP on the given loopback port, or throws
// std::runtime_error with the error log. The destructor always kills and reaps the server and removes the
// prefix; if the program dies, the kernel kills nginx (parent-death signal). Not thread-safe.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace liveapp::test {

class NginxProcess {
public:
    static constexpr const char* binary = "/usr/sbin/nginx";

    // A port the kernel just handed out on `host` ("127.0.0.1" or "::1"); nginx binds it a moment
    // later (another process taking it in between makes the start fail loudly, not silently: see
    // startFailedOnATakenPort).
    static uint16_t freePort(const std::string& host);
    // "[::1]" for an IPv6 address, the host itself otherwise.
    static std::string bracketed(const std::string& host);

    // Makes the prefix, /tmp/<name>-XXXXXX.
    explicit NginxProcess(std::string_view name);
    ~NginxProcess();
    NginxProcess(const NginxProcess&) = delete;
    NginxProcess& operator=(const NginxProcess&) = delete;

    const std::filesystem::path& prefix() const { return m_prefix; }
    // The http block's temporary folders, inside the prefix.
    std::string temporaryPaths() const;

    // Writes the configuration (the main-context lines, then `body`), starts nginx and waits until
    // it answers HTTP on readyHost:readyPort (an http server of `body` must listen there).
    void start(std::string_view body, const std::string& readyHost, uint16_t readyPort);

    pid_t pid() const { return m_pid; }
    std::string errorLog() const;
    // Whether a start's failure was a port taken between freePort and nginx's bind, which a start
    // on fresh ports mends.
    static bool startFailedOnATakenPort(const std::exception& failure);
    bool isRunning();
    void kill(); // SIGKILL and reap, as a crashed server vanishes
    void pause();
    void resume();

private:
    void launch();

    std::filesystem::path m_prefix;
    pid_t m_pid{-1};
};

} // namespace liveapp::test
