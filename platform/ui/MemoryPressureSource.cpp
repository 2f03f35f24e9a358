#include "platform/ui/MemoryPressureSource.h"

#include "platform/foundation/Guarded.h"
#include "platform/foundation/Log.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

class SilentMemoryPressure final : public MemoryPressureSource {
public:
    void start(Report) override {}
    void stop() override {}
};

Guarded<std::shared_ptr<MemoryPressureSource>>& installed() {
    static Guarded<std::shared_ptr<MemoryPressureSource>> source;
    return source;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Reading a cgroup file from its start also tells the kernel that this change has been seen, so the
// next poll waits for the next one.
std::string rereadDescriptor(int fd) {
    std::string text;
    char buffer[512];
    off_t offset = 0;
    for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, offset)) > 0; offset += n)
        text.append(buffer, size_t(n));
    return text;
}

// Where the cgroup v2 hierarchy is mounted, from mountinfo lines: "... <mount point> ... - cgroup2 ...".
std::string cgroup2MountPoint(const std::string& mountInfo) {
    std::istringstream lines(mountInfo);
    for (std::string line; std::getline(lines, line);) {
        auto separator = line.find(" - ");
        if (separator == std::string::npos || line.compare(separator + 3, 8, "cgroup2 ") != 0)
            continue;
        std::istringstream fields(line.substr(0, separator));
        std::string field;
        for (int i = 0; i < 5 && fields >> field; ++i) {
        }
        return field;
    }
    return {};
}

bool waitQuietly(int stopFd, int milliseconds) {
    pollfd stop{stopFd, POLLIN, 0};
    return ::poll(&stop, 1, milliseconds) == 0;
}

} // namespace

std::shared_ptr<MemoryPressureSource> MemoryPressureSource::current() {
    return installed().with([](std::shared_ptr<MemoryPressureSource>& source) {
        if (!source)
            source = std::make_shared<KernelMemoryPressure>();
        return source;
    });
}

void MemoryPressureSource::install(std::shared_ptr<MemoryPressureSource> source) {
    installed().set(std::move(source));
}

std::shared_ptr<MemoryPressureSource> MemoryPressureSource::silent() {
    return std::make_shared<SilentMemoryPressure>();
}

KernelMemoryPressure::KernelMemoryPressure()
    : KernelMemoryPressure(Files()) {}

KernelMemoryPressure::KernelMemoryPressure(Files files)
    : m_files(std::move(files)) {}

KernelMemoryPressure::~KernelMemoryPressure() {
    stop();
}

std::string KernelMemoryPressure::cgroupEventsPath() const {
    std::istringstream lines(readFile(m_files.cgroup));
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("0::"))
            continue;
        std::string path = line.substr(3);
        std::string mount = cgroup2MountPoint(readFile(m_files.mountInfo));
        // The root cgroup keeps no memory.events: a process there is limited by nothing but the machine.
        if (mount.empty() || path.empty() || path == "/")
            return {};
        return mount + path + "/memory.events";
    }
    return {};
}

uint64_t KernelMemoryPressure::shortageCount(const std::string& memoryEvents) {
    std::istringstream lines(memoryEvents);
    uint64_t total = 0;
    std::string key;
    for (uint64_t count; lines >> key >> count;)
        if (key == "high" || key == "max")
            total += count;
    return total;
}

FileDescriptor KernelMemoryPressure::openPressureTrigger() const {
    // The kernel refuses a window other than a multiple of two seconds to a process without
    // CAP_SYS_RESOURCE; the same share of stalled time over that window is the nearest it grants.
    for (const char* trigger : {"some 150000 1000000", "some 300000 2000000"}) {
        FileDescriptor fd(::open(m_files.pressure.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!fd)
            return {};
        // The terminating NUL is part of what the kernel reads.
        if (::write(fd.get(), trigger, std::char_traits<char>::length(trigger) + 1) >= 0)
            return fd;
        if (errno != EINVAL)
            return {};
    }
    return {};
}

void KernelMemoryPressure::start(Report report) {
    stop();
    m_mechanism = Mechanism::None;
    if ((m_watched = openPressureTrigger())) {
        m_mechanism = Mechanism::PressureStall;
    } else if (std::string events = cgroupEventsPath(); !events.empty()) {
        m_watched.reset(::open(events.c_str(), O_RDONLY | O_CLOEXEC));
        if (m_watched)
            m_mechanism = Mechanism::CgroupEvents;
    }
    if (m_mechanism == Mechanism::None) {
        if (!std::exchange(m_saidUnwatchable, true))
            logMessage("Memory pressure cannot be watched here (no pressure-stall trigger, no cgroup "
                       "memory events): the application receives no memory warnings.");
        return;
    }
    m_stop.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    m_thread = std::thread([this, report = std::move(report)] { watch(report); });
}

void KernelMemoryPressure::watch(Report report) {
    const bool cgroup = m_mechanism == Mechanism::CgroupEvents;
    uint64_t shortages = cgroup ? shortageCount(rereadDescriptor(m_watched.get())) : 0;
    for (;;) {
        pollfd fds[2] = {{m_watched.get(), POLLPRI, 0}, {m_stop.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (!cgroup) {
            // An error without priority data: the trigger is gone (its cgroup was removed).
            if (!(fds[0].revents & POLLPRI))
                return;
            report();
            continue;
        }
        if (!(fds[0].revents & (POLLPRI | POLLERR)))
            continue;
        uint64_t now = shortageCount(rereadDescriptor(m_watched.get()));
        if (now <= shortages) {
            shortages = now;
            continue;
        }
        report();
        // Reclaim raises the counts many times a second while it lasts; one warning covers them.
        if (!waitQuietly(m_stop.get(), 1000))
            return;
        shortages = shortageCount(rereadDescriptor(m_watched.get()));
    }
}

void KernelMemoryPressure::stop() {
    if (m_thread.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(m_stop.get(), &one, sizeof one);
        m_thread.join();
    }
    m_watched.reset();
    m_stop.reset();
}

} // namespace platform
