// devservice: the live service on 127.0.0.1 for the main job (scripts/run). It prints one JSON line
// describing what it serves (service URL, RTMP host, chat port, account, password, captcha code, mobile
// number) and runs until SIGINT or SIGTERM, then stops everything it started, nginx included.
// "devservice --ingest-available" only answers whether the RTMP ingest can run here (exit 0) or not (1).

#include "platform/foundation/JSONSerialization.h"
#include "tools/devservice/DevService.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <pthread.h>
#include <string_view>

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--ingest-available")
        return liveapp::test::NginxRtmp::available() ? 0 : 1;
    // Blocked before any thread starts, so every thread inherits the mask and only sigwait takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        devservice::DevService service(stderr);
        auto line = platform::JSONSerialization::dataWithJSONObject(service.describe());
        std::printf("%s\n", line ? line->toString().c_str() : "{}");
        std::fflush(stdout);
        int received = 0;
        sigwait(&signals, &received);
        std::fprintf(stderr, "devservice: stopping\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "devservice: %s\n", error.what());
        return 1;
    }
    return 0;
}
