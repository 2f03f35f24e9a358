// devservice: the live service on 127.0.0.1 for the main job (scripts/run). It prints one JSON line
// describing what it serves (service URL, RTMP host, chat port, account, password, captcha code, mobile
// number) and runs until SIGINT or SIGTERM, then stops everything it started, nginx included.
// "devservice --ingest-available" only answers whether the RTMP ingest can run here (exit 0) or not (1).
// "devservice --recordings <folder>" has the ingest record what is published into that folder;
// "devservice --report-recordings <folder> <screens>" then, once the service has stopped, prints a line
// on each recording and writes a picture a viewer saw of it into <screens>.

#include "platform/foundation/JSONSerialization.h"
#include "tools/devservice/DevService.h"
#include "tools/devservice/RecordingReport.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <pthread.h>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--ingest-available")
        return liveapp::test::NginxRtmp::available() ? 0 : 1;
    if (argc == 4 && std::string_view(argv[1]) == "--report-recordings") {
        for (const auto& line : devservice::reportRecordings(argv[2], argv[3]))
            std::printf("%s\n", line.c_str());
        return 0;
    }
    std::string recordFolder;
    if (argc == 3 && std::string_view(argv[1]) == "--recordings")
        recordFolder = argv[2];
    // Blocked before any thread starts, so every thread inherits the mask and only sigwait takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        devservice::DevService service(stderr, recordFolder);
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
