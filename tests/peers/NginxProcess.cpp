#include "tests/peers/NginxProcess.h"

#include "platform/foundation/FileDescriptor.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <fstream>
#include <httplib.h>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace liveapp::test {

namespace {

bool makeAddress(const std::string& host, uint16_t port, sockaddr_storage& storage, socklen_t& length) {
    std::memset(&storage, 0, sizeof(storage));
    if (host.find(':') != std::string::npos) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
        return ::inet_pton(AF_INET6, host.c_str(), &address->sin6_addr) == 1;
    }
    auto* address = reinterpret_cast<sockaddr_in*>(&storage);
    address->sin_family = AF_INET;
    address->sin_port = htons(port);
    length = sizeof(sockaddr_in);
    return ::inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1;
}

// True once nginx itself answers on host:port. A bare accept is not enough: the port was free a
// moment before nginx bound it, and another process that took it in between would accept too.
bool nginxAnswers(const std::string& host, uint16_t port) {
    httplib::Client client(host, port);
    client.set_connection_timeout(std::chrono::seconds(1));
    client.set_read_timeout(std::chrono::seconds(5));
    auto reply = client.Head("/");
    return reply && reply->get_header_value("Server").starts_with("nginx");
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

uint16_t NginxProcess::freePort(const std::string& host) {
    sockaddr_storage storage;
    socklen_t length;
    if (!makeAddress(host, 0, storage, length))
        throw std::runtime_error("bad loopback address " + host);
    platform::FileDescriptor socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0 || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        throw std::runtime_error(fmt::format("no free port on {}: {}", host, std::strerror(errno)));
    return storage.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port)
                                         : ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

std::string NginxProcess::bracketed(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

NginxProcess::NginxProcess(std::string_view name) {
    std::string pattern = fmt::format("/tmp/{}-XXXXXX", name);
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error(fmt::format("mkdtemp: {}", std::strerror(errno)));
    m_prefix = pattern;
}

NginxProcess::~NginxProcess() {
    kill();
    std::error_code ignored;
    std::filesystem::remove_all(m_prefix, ignored);
}

std::string NginxProcess::temporaryPaths() const {
    auto path = [&](const char* name) { return (m_prefix / name).string(); };
    return fmt::format("client_body_temp_path {};\nproxy_temp_path {};\nfastcgi_temp_path {};\n"
                       "uwsgi_temp_path {};\nscgi_temp_path {};\n",
                       path("body"), path("proxy"), path("fastcgi"), path("uwsgi"), path("scgi"));
}

void NginxProcess::start(std::string_view body, const std::string& readyHost, uint16_t readyPort) {
    {
        // No `user` directive: CI runs as root, and a single process never changes user.
        std::ofstream out(m_prefix / "nginx.conf");
        out << fmt::format(
                   "daemon off;\nmaster_process off;\nworker_processes 1;\npid {};\nerror_log {} info;\n",
                   (m_prefix / "nginx.pid").string(), (m_prefix / "error.log").string())
            << body;
        if (!out)
            throw std::runtime_error("cannot write the nginx configuration");
    }
    // A failed start's log must not speak for this one.
    std::error_code ignored;
    std::filesystem::remove(m_prefix / "error.log", ignored);
    launch();
    // A bound for a broken launch, not a measure of speed.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!isRunning())
            throw std::runtime_error("nginx exited at start:\n" + errorLog() +
                                     readFile(m_prefix / "output.log"));
        if (nginxAnswers(readyHost, readyPort))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("nginx did not start listening:\n" + errorLog());
}

void NginxProcess::launch() {
    std::string prefix = m_prefix.string() + "/";
    std::string configuration = (m_prefix / "nginx.conf").string();
    std::string errorLog = (m_prefix / "error.log").string();
    std::string output = (m_prefix / "output.log").string();
    const char* arguments[] = {binary,           "-p",   prefix.c_str(), "-c", configuration.c_str(), "-e",
                               errorLog.c_str(), nullptr};
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(fmt::format("fork: {}", std::strerror(errno)));
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        int log = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        // The caller's sockets must not live on in the server, or a closed connection would stay open.
        ::close_range(3, ~0U, 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(binary, const_cast<char* const*>(arguments));
        ::_exit(127);
    }
    m_pid = pid;
}

bool NginxProcess::startFailedOnATakenPort(const std::exception& failure) {
    return std::string_view(failure.what()).find("Address already in use") != std::string_view::npos;
}

std::string NginxProcess::errorLog() const {
    return readFile(m_prefix / "error.log");
}

bool NginxProcess::isRunning() {
    if (m_pid <= 0)
        return false;
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(m_pid, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == 0)
        return true;
    m_pid = -1;
    return false;
}

void NginxProcess::kill() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

void NginxProcess::pause() {
    if (m_pid > 0)
        ::kill(m_pid, SIGSTOP);
}

void NginxProcess::resume() {
    if (m_pid > 0)
        ::kill(m_pid, SIGCONT);
}

} // namespace liveapp::test
