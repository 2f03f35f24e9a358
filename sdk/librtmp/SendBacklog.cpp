#include "sdk/librtmp/SendBacklog.h"

// The kernel's own TCP header: the C library's copy of tcp_info stops before the byte counters.
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace livecore::rtmp {

std::optional<SendBacklog> readSendBacklog(int socket) {
    int unacknowledged = 0;
    if (::ioctl(socket, SIOCOUTQ, &unacknowledged) != 0)
        return std::nullopt;
    tcp_info info{};
    socklen_t length = sizeof(info);
    if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_acked) + sizeof(info.tcpi_bytes_acked))
        return std::nullopt;
    // Kernels before 6.2 do not report the window: then only acknowledgements count as progress.
    const bool hasWindow = length >= offsetof(tcp_info, tcpi_snd_wnd) + sizeof(info.tcpi_snd_wnd);
    return SendBacklog{static_cast<uint64_t>(unacknowledged), info.tcpi_bytes_acked,
                       hasWindow ? info.tcpi_snd_wnd : 0};
}

} // namespace livecore::rtmp
