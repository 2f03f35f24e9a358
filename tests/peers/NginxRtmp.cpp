#include "tests/peers/NginxRtmp.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
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

constexpr const char* nginxBinary = "/usr/sbin/nginx";
constexpr const char* rtmpModule = "/usr/lib/nginx/modules/ngx_rtmp_module.so";

class Socket {
public:
    explicit Socket(int fd)
        : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

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

// A port the kernel just handed out; nginx binds it a moment later (another process taking it in
// between would make the launch fail loudly, not silently).
uint16_t freePort(const std::string& host) {
    sockaddr_storage storage;
    socklen_t length;
    if (!makeAddress(host, 0, storage, length))
        throw std::runtime_error("bad loopback address " + host);
    Socket socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0 || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        throw std::runtime_error(fmt::format("no free port on {}: {}", host, std::strerror(errno)));
    return storage.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port)
                                         : ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

bool accepts(const std::string& host, uint16_t port) {
    sockaddr_storage storage;
    socklen_t length;
    makeAddress(host, port, storage, length);
    Socket socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return socket.get() >= 0 && ::connect(socket.get(), reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

std::string bracketed(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string percentDecode(std::string_view text) {
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) && hex(text[i + 2])) {
            decoded += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

} // namespace

bool NginxRtmp::available() {
    return ::access(nginxBinary, X_OK) == 0 && ::access(rtmpModule, R_OK) == 0;
}

NginxRtmp::NginxRtmp(NginxRtmpOptions options)
    : m_host(options.host) {
    char pattern[] = "/tmp/nginx-rtmp-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error(fmt::format("mkdtemp: {}", std::strerror(errno)));
    m_prefix = pattern;
    try {
        m_port = freePort(m_host);
        m_statisticsPort = freePort("127.0.0.1");
        writeConfiguration(options);
        launch();
        waitUntilListening();
    } catch (...) {
        kill();
        std::error_code ignored;
        std::filesystem::remove_all(m_prefix, ignored);
        throw;
    }
}

NginxRtmp::~NginxRtmp() {
    kill();
    std::error_code ignored;
    std::filesystem::remove_all(m_prefix, ignored);
}

std::string NginxRtmp::baseURL() const {
    return fmt::format("rtmp://{}:{}", bracketed(m_host), m_port);
}

std::string NginxRtmp::url(std::string_view pathAndQuery) const {
    return baseURL() + std::string(pathAndQuery);
}

void NginxRtmp::writeConfiguration(const NginxRtmpOptions& options) {
    auto path = [&](const char* name) { return (m_prefix / name).string(); };
    std::string hooks;
    if (!options.onPublishURL.empty())
        hooks += fmt::format("            on_publish {};\n", options.onPublishURL);
    if (!options.onPublishDoneURL.empty())
        hooks += fmt::format("            on_publish_done {};\n", options.onPublishDoneURL);
    // No `user` directive: CI runs as root, and a single process never changes user.
    std::ofstream out(m_prefix / "nginx.conf");
    out << fmt::format(R"(daemon off;
master_process off;
worker_processes 1;
pid {pid};
error_log {log} info;
load_module {module};
events {{ worker_connections 128; }}
rtmp {{
    server {{
        listen {host}:{port};
        chunk_size 4096;
        application live {{
            live on;
{hooks}        }}
    }}
}}
http {{
    access_log off;
    client_body_temp_path {body};
    proxy_temp_path {proxy};
    fastcgi_temp_path {fastcgi};
    uwsgi_temp_path {uwsgi};
    scgi_temp_path {scgi};
    server {{
        listen 127.0.0.1:{statPort};
        location /stat {{ rtmp_stat all; }}
    }}
}}
)",
                       fmt::arg("pid", path("nginx.pid")), fmt::arg("log", path("error.log")),
                       fmt::arg("module", rtmpModule), fmt::arg("host", bracketed(m_host)),
                       fmt::arg("port", m_port), fmt::arg("hooks", hooks), fmt::arg("body", path("body")),
                       fmt::arg("proxy", path("proxy")), fmt::arg("fastcgi", path("fastcgi")),
                       fmt::arg("uwsgi", path("uwsgi")), fmt::arg("scgi", path("scgi")),
                       fmt::arg("statPort", m_statisticsPort));
    if (!out)
        throw std::runtime_error("cannot write the nginx configuration");
}

void NginxRtmp::launch() {
    std::string prefix = m_prefix.string() + "/";
    std::string configuration = (m_prefix / "nginx.conf").string();
    std::string errorLog = (m_prefix / "error.log").string();
    std::string output = (m_prefix / "output.log").string();
    const char* arguments[] = {nginxBinary,           "-p", prefix.c_str(),   "-c",
                               configuration.c_str(), "-e", errorLog.c_str(), nullptr};
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
        // The test's sockets must not live on in the server, or a closed connection would stay open.
        ::close_range(3, ~0U, 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(nginxBinary, const_cast<char* const*>(arguments));
        ::_exit(127);
    }
    m_pid = pid;
}

void NginxRtmp::waitUntilListening() {
    // A bound for a broken launch, not a measure of speed.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!isRunning())
            throw std::runtime_error("nginx exited at start:\n" + errorLog() +
                                     readFile(m_prefix / "output.log"));
        // Every listening socket is open before nginx serves any, so the RTMP port is ready too.
        if (accepts("127.0.0.1", m_statisticsPort))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("nginx did not start listening:\n" + errorLog());
}

std::string NginxRtmp::statistics() const {
    httplib::Client client("127.0.0.1", m_statisticsPort);
    client.set_connection_timeout(std::chrono::seconds(10));
    client.set_read_timeout(std::chrono::seconds(10));
    auto reply = client.Get("/stat");
    return reply && reply->status == 200 ? reply->body : std::string();
}

uint64_t NginxRtmp::bytesSent() const {
    // The first count on the page is the server's total; streams and clients follow.
    std::string page = statistics();
    auto start = page.find("<bytes_out>");
    return start == std::string::npos ? 0 : std::strtoull(page.c_str() + start + 11, nullptr, 10);
}

std::string NginxRtmp::errorLog() const {
    return readFile(m_prefix / "error.log");
}

bool NginxRtmp::isRunning() {
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

void NginxRtmp::kill() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

void NginxRtmp::pause() {
    if (m_pid > 0)
        ::kill(m_pid, SIGSTOP);
}

void NginxRtmp::resume() {
    if (m_pid > 0)
        ::kill(m_pid, SIGCONT);
}

std::map<std::string, std::string> parseHookForm(std::string_view body) {
    std::map<std::string, std::string> fields;
    while (!body.empty()) {
        auto end = body.find('&');
        auto pair = body.substr(0, end);
        auto equals = pair.find('=');
        if (!pair.empty())
            fields[percentDecode(pair.substr(0, equals))] =
                equals == std::string_view::npos ? std::string() : percentDecode(pair.substr(equals + 1));
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    }
    return fields;
}

} // namespace liveapp::test
