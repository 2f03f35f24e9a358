// The end of a real process: the application's entry runs the application and ends the process at once
// when it returns, without running static destructors. This test program starts itself again as that
// process (a fresh one, whatever threads this one runs) and looks at the cache it leaves behind.
#include "imagecache/ImageCache.h"
#include "imagecache/WebImageDownloader.h"
#include "imagecache/WebImageManager.h"
#include "imagecache/WebImagePrefetcher.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/UIApplication.h"
#include "tests/support/ChildProcess.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <sys/wait.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr const char* kChildHomeVariable = "LIVEAPP_TEST_TERMINATING_HOME";
constexpr const char* kSharedAtExitVariable = "LIVEAPP_TEST_SHARED_AT_EXIT";

// As the application's entry: the shared cache in use, SIGTERM from the system, and the process ended
// without tear-down as soon as UIApplicationMain returns.
[[noreturn]] void runTerminatingApplication(const char* home) {
    const char* testHome = std::getenv("LIVEAPP_HOME");
    const char* testShared = std::getenv("LIVEAPP_SHARED_DIR");
    std::error_code ignored;
    for (const char* folder : {testHome, testShared}) // this run's own temporary folders, left unused
        if (folder)
            fs::remove_all(folder, ignored);
    Paths::setHome(home);
    auto cache = ImageCache::sharedImageCache();
    // Sent to the main thread itself: only it blocks the signal for UIApplicationMain to read.
    DispatchQueue::main()->async([] { pthread_kill(pthread_self(), SIGTERM); });
    UIApplicationMain(std::make_shared<UIApplicationDelegate>());
    std::fflush(nullptr);
    std::quick_exit(0);
}

// Runs this test again in a new process of this program, told to be the terminating application.
int exitStatusOfTerminatingApplication(const std::string& home) {
    int status = liveapp::test::waitStatusOfThisTestInAChild(kChildHomeVariable, home);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ImageCacheTermination, TheProcessEndsOnlyAfterTheCleanAskedForAtTerminationHasRun) {
    if (const char* home = std::getenv(kChildHomeVariable))
        runTerminatingApplication(home);

    const fs::path folder = Paths::caches() / "default/com.quilbrenx.WebImageCache.default";
    fs::create_directories(folder);
    const fs::path stale = folder / "stale", fresh = folder / "fresh";
    for (const auto& path : {stale, fresh})
        ASSERT_TRUE(AtomicFile::write(path, Data(std::string_view("x"))));
    fs::last_write_time(
        stale, fs::file_time_type::clock::from_sys(Clock::current().wall() - std::chrono::hours(24 * 8)));

    EXPECT_EQ(exitStatusOfTerminatingApplication(Paths::home().string()), 0);
    EXPECT_FALSE(fs::exists(stale)) << "a file past the cache's age outlived the process";
    EXPECT_TRUE(fs::exists(fresh));
}

// A test program (unlike the application) ends through its static destructors, while workers may still
// be fetching a picture through the shared instances.
TEST(ImageCacheTermination, WorkersStillUsingTheSharedInstancesWhenTheProgramEndsAreNotPulledFromUnder) {
    if (std::getenv(kSharedAtExitVariable)) {
        auto fetchAll = [] {
            (void)WebImageManager::sharedManager();
            (void)ImageCache::sharedImageCache();
            (void)WebImageDownloader::sharedDownloader();
            (void)WebImagePrefetcher::sharedImagePrefetcher();
        };
        fetchAll(); // made on the main thread first, as the application does
        liveapp::test::workOnWhileTheProgramEnds(fetchAll);
        return;
    }
    EXPECT_TRUE(
        liveapp::test::endedCleanly(liveapp::test::waitStatusOfThisTestInAChild(kSharedAtExitVariable)));
}

} // namespace
