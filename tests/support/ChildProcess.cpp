#include "ChildProcess.h"

#include <atomic>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace liveapp::test {

int waitStatusOfThisTestInAChild(const std::string& variable, const std::string& value) {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> environment{variable + "=" + value};
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    std::vector<char*> envp, argv{self.data(), filter.data(), nullptr};
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return -1;
    return status;
}

testing::AssertionResult endedCleanly(int status) {
    if (status == -1)
        return testing::AssertionFailure() << "the copy of the test program could not be started";
    if (!WIFEXITED(status))
        return testing::AssertionFailure() << "the process ended by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) != 0)
        return testing::AssertionFailure() << "the process ended with status " << WEXITSTATUS(status);
    return testing::AssertionSuccess();
}

void workOnWhileTheProgramEnds(std::function<void()> work) {
    static std::atomic<int> runs{0};
    for (int i = 0; i < 4; ++i)
        std::thread([work] {
            for (;;) {
                work();
                runs.fetch_add(1, std::memory_order_relaxed);
            }
        }).detach();
    while (runs.load(std::memory_order_relaxed) < 4000)
        std::this_thread::yield();
}

} // namespace liveapp::test
