// The application's entry. It registers the classes the runtime must know before anything is read, then
// runs the application loop with AppDelegate until the application is terminated (SIGINT or SIGTERM) and
// the work that holds background tasks, such as the image cache's clean, has finished or run out of time.
// With "--walk-through <folder>" the walk-through drives the application once it has launched, and the
// process ends with the walk-through's result.
//
// The process ends without destroying static objects, as the application tears nothing down at
// termination: the network monitor, the dispatch workers and the sockets' queues still run then, and
// static destruction under them would race.

#include "app/core/ServiceModels.h"
#include "app/delegate/AppDelegate.h"
#include "app/walkthrough/WalkThrough.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UISearchBar.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace platform;

int main(int argc, char** argv) {
    std::string problem;
    auto options = walkThroughOptions(std::vector<std::string>(argv + 1, argv + argc), &problem);
    if (!problem.empty()) {
        std::fprintf(stderr, "liveapp: %s\n", problem.c_str());
        return 2;
    }
    registerServiceModels();
    UISearchBar::registerClasses();

    int status = 0;
    std::shared_ptr<WalkThrough> walkThrough;
    NotificationObserver launched;
    if (options) {
        walkThrough = WalkThrough::create(*options, [&status](int result) {
            status = result;
            UIApplication::sharedApplication()->simulateTerminate();
        });
        launched = NotificationCenter::defaultCenter().addObserverForName(
            UIApplicationDidFinishLaunchingNotification, nullptr, [walkThrough](const Notification&) {
                DispatchQueue::main()->async([walkThrough] { walkThrough->start(); });
            });
    }
    UIApplicationMain(std::make_shared<AppDelegate>());
    std::fflush(nullptr);
    std::quick_exit(status);
}
