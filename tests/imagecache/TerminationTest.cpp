// The end of a real process: the application's entry runs the application and ends the process at once
// when it returns, without running static destructors. This test program starts itself again as that
// process (a fresh one, whatever threads this one runs) and looks at the cache it leaves behind.
#include "imagecache/ImageCache.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/UIApplication.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr const char* kChildHomeVariable = "LIVEAPP_TEST_TERMINATING_HOME";

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
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    environment.push_back(std::string(kChildHomeVariable) + "=" + home);
    std::vector<char*> envp, argv{self.data(), filter.data(), nullptr};
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

} // namespace
